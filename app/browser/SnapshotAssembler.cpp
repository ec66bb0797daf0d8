#include "quorvane/browser/SnapshotAssembler.hpp"

#include <glib.h>

#include "quorvane/AppFailure.hpp"
#include "quorvane/Json.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/holders/GLibHolders.hpp"

namespace quorvane {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The code unit of a \uXXXX escape at `at` (which points at the backslash), or -1.
long escapedUnit(std::string_view json, std::size_t at)
{
    if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u')
        return -1;
    long unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        int digit = hexValue(json[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool isLeading(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailing(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

boost::json::value parseAnswer(std::string_view answer)
{
    boost::json::error_code error;
    boost::json::value value = boost::json::parse(answer, error);
    if (!error)
        return value;
    // Only a malformed page gets here; mend what can be mended, then parse once more.
    std::string mended = wellFormedJSON(answer);
    error = {};
    value = boost::json::parse(mended, error);
    if (error)
        throw JsonDecodeError("The Dot page snapshot is not valid JSON: " + error.message());
    return value;
}

const boost::json::value& member(const boost::json::object& object, const char* key)
{
    const boost::json::value* found = object.if_contains(key);
    if (!found)
        throw JsonDecodeError(std::string("missing key \"") + key + "\"");
    return *found;
}

std::string stringMember(const boost::json::object& object, const char* key)
{
    const auto* text = member(object, key).if_string();
    if (!text)
        throw JsonDecodeError("expected a string", key);
    return std::string(text->data(), text->size());
}

}  // namespace

std::string wellFormedJSON(std::string_view json)
{
    std::string text;
    if (g_utf8_validate(json.data(), gssize(json.size()), nullptr)) {
        text.assign(json);
    } else {
        GCharPtr valid(g_utf8_make_valid(json.data(), gssize(json.size())));
        text.assign(valid.get());
    }
    static constexpr std::string_view replacement = "\\ufffd";
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at)) {
        long unit = escapedUnit(text, at);
        if (unit < 0) {
            at += 2;  // another escape: \" \\ \n ...
            continue;
        }
        if (isLeading(unit) && isTrailing(escapedUnit(text, at + 6))) {
            at += 12;  // a pair: fine
            continue;
        }
        if (isLeading(unit) || isTrailing(unit)) {
            out.append(text, copied, at - copied);
            out.append(replacement);
            copied = at + 6;
        }
        at += 6;
    }
    out.append(text, copied, std::string::npos);
    return out;
}

void SnapshotAssembler::reset()
{
    generation_.clear();
    order_.clear();
    messages_.clear();
    unique_.clear();
}

DotSnapshot SnapshotAssembler::apply(std::string_view answer)
{
    if (answer.size() > kMaxAnswerBytes) {
        reset();
        throw AppFailure(kSnapshotTooLarge);
    }
    try {
        boost::json::value value = parseAnswer(answer);
        const auto* object = value.if_object();
        if (!object)
            throw JsonDecodeError("expected an object");
        std::string base = stringMember(*object, "base");
        std::string generation = stringMember(*object, "generation");
        if (!base.empty() && base != generation_)
            throw StaleSnapshotBase();

        // The page fields decode as a snapshot without messages.
        const auto* page = member(*object, "page").if_object();
        if (!page)
            throw JsonDecodeError("expected an object", "page");
        boost::json::object fields = *page;
        fields["messages"] = boost::json::array();
        DotSnapshot snapshot;
        try {
            decodeInto(fields, snapshot);
        } catch (const JsonDecodeError& error) {
            throw JsonDecodeError(error.problem, error.path.empty() ? "page" : "page." + error.path);
        }

        if (base.empty())
            messages_.clear();
        const auto* changed = member(*object, "changed").if_array();
        if (!changed)
            throw JsonDecodeError("expected an array", "changed");
        bool anyChanged = !changed->empty();
        std::size_t index = 0;
        for (const boost::json::value& entry : *changed) {
            std::string path = "changed." + std::to_string(index++);
            const auto* message = entry.if_object();
            if (!message)
                throw JsonDecodeError("expected an object", path);
            DotMessage decoded;
            try {
                std::string key = stringMember(*message, "key");
                decodeInto(entry, decoded);
                messages_.insert_or_assign(std::move(key), std::move(decoded));
            } catch (const JsonDecodeError& error) {
                throw JsonDecodeError(error.problem, error.path.empty() ? path : path + "." + error.path);
            }
        }
        bool orderChanged = base.empty();
        if (const boost::json::value* order = object->if_contains("order")) {
            const auto* list = order->if_array();
            if (!list)
                throw JsonDecodeError("expected an array", "order");
            std::vector<std::string> keys;
            keys.reserve(list->size());
            for (const boost::json::value& key : *list) {
                const auto* text = key.if_string();
                if (!text)
                    throw JsonDecodeError("expected a string", "order." + std::to_string(keys.size()));
                keys.emplace_back(text->data(), text->size());
            }
            if (keys != order_) {
                order_ = std::move(keys);
                anyChanged = orderChanged = true;
            }
        } else if (base.empty()) {
            throw JsonDecodeError("missing key \"order\"");
        }

        if (anyChanged || base.empty()) {
            std::vector<DotMessage> shown;
            shown.reserve(order_.size());
            for (const std::string& key : order_) {
                auto found = messages_.find(key);
                if (found == messages_.end())
                    throw JsonDecodeError("the page named a message it never sent", "order");
                shown.push_back(found->second);
            }
            if (orderChanged && messages_.size() > order_.size()) {
                // What left the page is forgotten.
                std::unordered_map<std::string, DotMessage> kept;
                kept.reserve(order_.size());
                for (const std::string& key : order_)
                    kept.emplace(key, messages_.at(key));
                messages_ = std::move(kept);
            }
            unique_ = uniqueDotMessages(shown);
        }
        generation_ = std::move(generation);
        snapshot.messages = unique_;
        return snapshot;
    } catch (...) {
        reset();
        throw;
    }
}

}  // namespace quorvane
