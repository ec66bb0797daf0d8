#include "quorvane/shell/StateTransport.hpp"

#include <boost/describe/members.hpp>
#include <boost/mp11/algorithm.hpp>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "quorvane/controller/PageJSON.hpp"
#include "quorvane/shell/ASCIIJSON.hpp"

namespace quorvane {

namespace {

template <class T>
struct IsOptional : std::false_type {
};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
};

template <class Field>
bool present(const Field& field)
{
    if constexpr (IsOptional<Field>::value)
        return field.has_value();
    else
        return true;
}

template <class Field>
void appendValue(std::string& out, const Field& field)
{
    if constexpr (IsOptional<Field>::value)
        appendPageJSON(out, *field);
    else
        appendPageJSON(out, field);
}

void appendKey(std::string& out, std::string_view name)
{
    out.push_back('"');
    out.append(name);  // field names are plain ASCII identifiers
    out.append("\":");
}

// "keys":[…],"set":{…} for a record: every present key in order, and the value of each one
// that is new or different. Fields for which `skip(name)` holds go into the keys only (the
// caller sends them its own way).
template <class T, class Skip>
void appendFieldChanges(std::string& out, const T& previous, const T& current, Skip skip)
{
    out.append("\"keys\":[");
    bool first = true;
    boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>([&](auto member) {
        if (!present(current.*member.pointer))
            return;
        if (!first)
            out.push_back(',');
        first = false;
        out.push_back('"');
        out.append(member.name);
        out.push_back('"');
    });
    out.append("],\"set\":{");
    first = true;
    boost::mp11::mp_for_each<boost::describe::describe_members<T, boost::describe::mod_public>>([&](auto member) {
        const auto& now = current.*member.pointer;
        const auto& before = previous.*member.pointer;
        if (!present(now) || skip(std::string_view(member.name)))
            return;
        if (present(before) && before == now)
            return;
        if (!first)
            out.push_back(',');
        first = false;
        appendKey(out, member.name);
        appendValue(out, now);
    });
    out.push_back('}');
}

// The new message list as runs of the previous one and new messages. Messages are matched in
// step first (the usual change is at the end: a message added, the last ones changed) and by id
// where the two lists part ways (a message removed or moved).
void appendMessageRuns(std::string& out, const std::vector<ChatMessage>& previous, const std::vector<ChatMessage>& now)
{
    out.push_back('[');
    bool first = true;
    auto separate = [&] {
        if (!first)
            out.push_back(',');
        first = false;
    };
    std::size_t runStart = 0, runLength = 0;
    auto closeRun = [&] {
        if (runLength == 0)
            return;
        separate();
        out.push_back('[');
        out.append(std::to_string(runStart));
        out.push_back(',');
        out.append(std::to_string(runLength));
        out.push_back(']');
        runLength = 0;
    };
    auto reuse = [&](std::size_t index) {
        if (runLength > 0 && runStart + runLength == index) {
            ++runLength;
            return;
        }
        closeRun();
        runStart = index;
        runLength = 1;
    };

    std::optional<std::unordered_map<std::string_view, std::size_t>> byID;  // built on first need
    std::size_t next = 0;  // where the previous list is expected to continue
    for (const auto& message : now) {
        std::optional<std::size_t> match;
        if (next < previous.size() && previous[next] == message) {
            match = next;
        } else {
            if (!byID) {
                byID.emplace();
                byID->reserve(previous.size());
                // Ids are unique in a healthy list; with duplicates the first one is taken,
                // which is still correct because a match must also be equal in value.
                for (std::size_t i = 0; i < previous.size(); ++i)
                    byID->emplace(previous[i].id.view(), i);
            }
            if (auto found = byID->find(message.id.view()); found != byID->end() && previous[found->second] == message)
                match = found->second;
        }
        if (match) {
            reuse(*match);
            next = *match + 1;
        } else {
            closeRun();
            separate();
            appendPageJSON(out, message);
        }
    }
    closeRun();
    out.push_back(']');
}

void appendAccountChange(std::string& out, const Account& previous, const Account& now)
{
    out.push_back('{');
    appendFieldChanges(out, previous, now, [](std::string_view name) { return name == "messages"; });
    if (!previous.messages.sharesElementsWith(now.messages) && previous.messages != now.messages) {
        out.append(",\"messages\":");
        appendMessageRuns(out, previous.messages.elements(), now.messages.elements());
    }
    out.push_back('}');
}

}  // namespace

void StateTransport::encodeComplete(const ClientState& state, std::uint64_t sequence, const Sink& sink) const
{
    // The state without its messages, then the messages in parts.
    const std::string prefix = "{\"seq\":" + std::to_string(sequence);
    const auto& messages = state.account.messages;
    ClientState head = state;
    head.account.messages = {};
    std::string out = prefix;
    out.append(",\"base\":0,\"more\":");
    out.append(messages.empty() ? "false" : "true");
    out.append(",\"state\":");
    appendPageJSON(out, head);
    out.push_back('}');
    makeASCIIJSON(out);
    sink(out);
    std::size_t part = 0;
    for (std::size_t i = 0; i < messages.size();) {
        out = prefix + ",\"part\":" + std::to_string(++part) + ",\"messages\":[";
        std::size_t start = i;
        while (i < messages.size() && (i == start || out.size() < partBytes_)) {
            if (i > start)
                out.push_back(',');
            appendPageJSON(out, messages[i]);
            ++i;
        }
        out.append("],\"more\":");
        out.append(i < messages.size() ? "true}" : "false}");
        makeASCIIJSON(out);
        sink(out);
    }
}

void StateTransport::encodeChange(const ClientState& state, std::uint64_t sequence, const Sink& sink) const
{
    std::string out = "{\"seq\":" + std::to_string(sequence) + ",\"base\":" + std::to_string(baseSequence_) + ",";
    appendFieldChanges(out, *base_, state, [](std::string_view name) { return name == "account"; });
    if (!(base_->account == state.account)) {
        out.append(",\"account\":");
        appendAccountChange(out, base_->account, state.account);
    }
    out.push_back('}');
    makeASCIIJSON(out);
    sink(out);
}

StateTransport::Publication StateTransport::publish(const ClientState& state, const Deliver& deliver)
{
    Publication publication;
    // Parts go out one behind, so that the last one can say it is the last.
    std::optional<std::string> pending;
    auto send = [&](std::string& text) {
        if (pending)
            deliver(std::exchange(*pending, {}), false);
        publication.bytes += text.size();
        ++publication.parts;
        pending = std::exchange(text, {});
    };

    if (!base_ && prepared_) {
        Prepared prepared = std::move(*std::exchange(prepared_, std::nullopt));
        for (std::string& part : prepared.parts)
            send(part);
        publication.complete = true;
        publication.sequence = prepared.sequence;
        base_ = std::move(prepared.state);
        baseSequence_ = prepared.sequence;
    }
    if (!base_) {
        publication.complete = true;
        publication.sequence = ++sequence_;
        encodeComplete(state, publication.sequence, send);
    } else if (publication.parts == 0 || !(*base_ == state)) {
        publication.sequence = ++sequence_;
        encodeChange(state, publication.sequence, send);
    }
    base_ = state;
    baseSequence_ = publication.sequence;
    if (pending)
        deliver(std::move(*pending), true);
    return publication;
}

void StateTransport::prepare(const ClientState& state)
{
    Prepared prepared { state, ++sequence_, {} };
    encodeComplete(
        state, prepared.sequence, [&](std::string& text) { prepared.parts.push_back(std::exchange(text, {})); });
    prepared_ = std::move(prepared);
}

void StateTransport::reset() { base_.reset(); }

}  // namespace quorvane
