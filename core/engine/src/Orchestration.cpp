#include "quorvane/Orchestration.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <unordered_set>
#include <utility>

#include <boost/json/parse.hpp>
#include <boost/json/parse_options.hpp>
#include <unicode/regex.h>
#include <unicode/utext.h>

#include "AccountLists.hpp"
#include "EngineCommon.hpp"
#include "TeammateMention.hpp"
#include "quorvane/ConversationContext.hpp"
#include "quorvane/TextRules.hpp"

namespace quorvane {

namespace {

// Handoff blocks come from the outside service, so their size is capped before decoding. A
// directive that can be accepted holds at most six tasks of at most 4000 characters: about
// 96 KB as plain UTF-8, under 300 KB even with every character written as a JSON escape.
// 1 MiB leaves room for long grapheme clusters and ignored keys while bounding the memory and
// time a hostile reply can cost. No continuation can bring a larger object back under the cap,
// so a block that passes it is invalid even before it closes.
constexpr std::size_t kMaxDirectiveBytes = std::size_t(1) << 20;

// A directive is three levels deep (object, handoffs array, assignment); ignored keys may nest
// a little. The parser refuses anything deeper instead of building it.
constexpr std::size_t kMaxDirectiveDepth = 32;

constexpr std::size_t kMaxHandoffsPerRoot = 6;
constexpr std::size_t kMaxTaskCharacters = 4000;

[[noreturn]] void brokenPattern(const char* which)
{
    // The fixed patterns are compile-time constants of this file; failing to compile one is a
    // programming error that must not pass silently.
    std::fprintf(stderr, "quorvane: the %s pattern does not compile\n", which);
    std::abort();
}

const icu::RegexPattern& handoffLabelPattern()
{
    static const std::unique_ptr<icu::RegexPattern> pattern = [] {
        UErrorCode status = U_ZERO_ERROR;
        UParseError where {};
        std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
            icu::UnicodeString::fromUTF8("(?m)(?:```quorvane-handoff\\b|^[\\t ]*quorvane-handoff\\b)"), 0, where,
            status));
        if (U_FAILURE(status) || !compiled)
            brokenPattern("handoff label");
        return compiled;
    }();
    return *pattern;
}

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};
using UTextHolder = std::unique_ptr<UText, UTextCloser>;

// Byte offset just past the single label in text; none when there is no label, and
// `several` set when there is more than one.
std::optional<std::size_t> singleLabelEnd(std::string_view text, bool& several)
{
    several = false;
    UErrorCode status = U_ZERO_ERROR;
    // Matching over UTF-8 directly keeps the match offsets in bytes of `text`.
    UTextHolder input(utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
    std::unique_ptr<icu::RegexMatcher> matcher(handoffLabelPattern().matcher(status));
    if (U_FAILURE(status) || !matcher || !input)
        brokenPattern("handoff label");
    matcher->reset(input.get());
    if (!matcher->find(status))
        return std::nullopt;
    int64_t end = matcher->end64(status);
    if (matcher->find(status))
        several = true;
    if (U_FAILURE(status))
        brokenPattern("handoff label");
    return static_cast<std::size_t>(end);
}

enum class ScanResult { complete, incomplete, tooLarge };

// Finds the end of the JSON object that opens at text[start] == '{'. Braces inside strings do
// not count; a backslash in a string escapes the next byte. Only ASCII bytes steer the scan, so
// working on bytes gives the same result as working on characters. Iterative on purpose: the
// nesting depth is a counter, never a call stack.
ScanResult scanObject(std::string_view text, std::size_t start, std::size_t& end)
{
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (i - start >= kMaxDirectiveBytes)
            return ScanResult::tooLarge;
        char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) {
                end = i + 1;
                return ScanResult::complete;
            }
        }
    }
    return ScanResult::incomplete;
}

// Thrown inside the decoder only; any mismatch makes the whole directive invalid.
struct NotADirective { };

std::string stringValue(const boost::json::value& value)
{
    const auto* string = value.if_string();
    if (!string)
        throw NotADirective {};
    return std::string(string->data(), string->size());
}

std::string requiredString(const boost::json::object& object, std::string_view key)
{
    const auto* found = object.if_contains(key);
    if (!found)
        throw NotADirective {};
    return stringValue(*found);
}

std::optional<std::string> optionalString(const boost::json::object& object, std::string_view key)
{
    const auto* found = object.if_contains(key);
    if (!found)
        return std::nullopt;
    return stringValue(*found);
}

HandoffDirective decodeDirective(const boost::json::value& value)
{
    const auto* object = value.if_object();
    if (!object)
        throw NotADirective {};
    HandoffDirective directive;
    directive.request_id = requiredString(*object, "request_id");
    directive.to = optionalString(*object, "to");
    directive.task = optionalString(*object, "task");
    if (const auto* list = object->if_contains("handoffs")) {
        const auto* array = list->if_array();
        if (!array)
            throw NotADirective {};
        auto& assignments = directive.handoffs.emplace();
        assignments.reserve(array->size());
        for (const auto& element : *array) {
            const auto* entry = element.if_object();
            if (!entry)
                throw NotADirective {};
            assignments.push_back({ requiredString(*entry, "to"), requiredString(*entry, "task") });
        }
    }
    return directive;
}

std::optional<HandoffDirective> parseDirective(std::string_view json)
{
    boost::json::parse_options options;
    options.max_depth = kMaxDirectiveDepth;
    boost::json::error_code error;
    boost::json::value value = boost::json::parse(json, error, {}, options);
    if (error)
        return std::nullopt;
    try {
        return decodeDirective(value);
    } catch (const NotADirective&) {
        return std::nullopt;
    }
}

const Handoff* findHandoff(const std::optional<CowVector<Handoff>>& handoffs, std::string_view id)
{
    return handoffs ? findByID(*handoffs, id) : nullptr;
}

bool isASCIIAlphanumeric(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The name as a pattern that matches exactly its characters. "\Q…\E" would end early at a name
// that itself holds "\E", so every ASCII character that is not a letter or digit is escaped on
// its own (a backslash before such a character is always a literal in ICU); letters, digits
// and non-ASCII characters are literals already.
std::string literalPattern(std::string_view name)
{
    std::string out;
    out.reserve(name.size() * 2);
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x80 && !isASCIIAlphanumeric(c))
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// ---- Acceptance checks --------------------------------------------------------------------------

// One assignment of a directive with the bot it goes to.
struct TargetedAssignment {
    const HandoffAssignment& assignment;
    const Bot& target;
};

// The delegating request may hand off: it is not a labelling request or a report, it is not too
// deep in its handoff tree, and its bot still exists.
bool mayHandOff(const Account& account, const PendingRequest& job)
{
    return !job.roleTargets && findBot(account, job.botID) && !job.isReport.value_or(false)
        && job.delegationDepth.value_or(0) <= kMaxDelegationDepth;
}

// Neither the handoffs of the tree nor the queue would grow past their limits. The delegating
// request leaves the queue, so it does not count.
bool withinLimits(const Account& account, const PendingRequest& job, std::size_t added)
{
    const Text root = rootOf(job);
    std::size_t rootHandoffs = account.handoffs ? static_cast<std::size_t>(std::count_if(account.handoffs->begin(),
                                   account.handoffs->end(), [&](const Handoff& h) { return h.rootRequestID == root; }))
                                                : 0;
    if (rootHandoffs + added > kMaxHandoffsPerRoot)
        return false;
    auto otherJobs = static_cast<std::size_t>(std::count_if(
        account.jobs.begin(), account.jobs.end(), [&](const PendingRequest& j) { return j.id != job.id; }));
    return otherJobs + added <= kQueueLimit;
}

bool hasDistinctTargets(const std::vector<HandoffAssignment>& assignments)
{
    std::set<std::string_view> targets;
    for (const auto& assignment : assignments)
        if (!targets.insert(assignment.to).second)
            return false;
    return true;
}

// An active teammate other than the delegating bot and the primary one, and a task that is
// neither empty nor too long.
const Bot* acceptableTarget(const Account& account, const PendingRequest& job, const HandoffAssignment& assignment)
{
    const Bot* target = findBot(account, assignment.to);
    if (!target || target->id == job.botID || target->id == kPrimaryBotID || target->archived)
        return nullptr;
    if (trimmed(assignment.task).empty() || characterCount(assignment.task) > kMaxTaskCharacters)
        return nullptr;
    return target;
}

// The directive's assignments with their targets, when every check passes.
std::optional<std::vector<TargetedAssignment>> acceptedAssignments(
    const Account& account, const PendingRequest& job, const std::vector<HandoffAssignment>& assignments)
{
    if (assignments.empty() || !withinLimits(account, job, assignments.size()) || !hasDistinctTargets(assignments))
        return std::nullopt;
    std::vector<TargetedAssignment> accepted;
    for (const auto& assignment : assignments) {
        const Bot* target = acceptableTarget(account, job, assignment);
        if (!target)
            return std::nullopt;
        accepted.push_back(TargetedAssignment { assignment, *target });
    }
    return accepted;
}

// ---- What a handoff adds ------------------------------------------------------------------------

// Everything accepting a directive adds to the account, built before anything changes.
struct HandoffPlan {
    std::vector<Handoff> handoffs;
    std::vector<ChatMessage> messages;
    std::vector<PendingRequest> jobs;
};

// The event in the delegating bot's history: "Asked <name> to help."
ChatMessage handoffNote(const PendingRequest& job, const Bot& target, const Text& handoffID, bool onlyOne, Date now)
{
    ChatMessage note;
    note.id = onlyOne ? job.id + "-handoff" : handoffID + "-handoff";
    note.botID = job.botID;
    note.role = MessageRole::event;
    note.text = "Asked " + target.name + " to help.";
    note.date = now;
    note.status = MessageStatus::delegated;
    note.replyToID = rootOf(job);
    note.handoffID = handoffID;
    return note;
}

// The task as the teammate's history shows it.
ChatMessage handoffTask(const PendingRequest& job, const TargetedAssignment& targeted, const Text& handoffID, Date now)
{
    ChatMessage task;
    task.id = handoffID;
    task.botID = targeted.target.id;
    task.role = MessageRole::handoff;
    task.text = targeted.assignment.task;
    task.date = now;
    task.status = MessageStatus::queued;
    task.sourceBotID = job.botID;
    task.replyToID = rootOf(job);
    return task;
}

// The teammate's request, one level deeper in the tree, with its payload composed. A handoff made
// from a direct mention carries the quote the user replied to.
PendingRequest teammateRequest(const Account& account, const PendingRequest& job, const TargetedAssignment& targeted,
    const Text& handoffID, const std::optional<QuotedReply>& quote)
{
    const std::string& task = targeted.assignment.task;
    PendingRequest request = PendingRequest::make(handoffID, targeted.target, task);
    request.rootRequestID = rootOf(job);
    request.parentRequestID = job.id;
    request.returnBotID = job.botID;
    request.delegationDepth = job.delegationDepth.value_or(0) + 1;
    std::string text = quote ? quotedReplyBlock(quote->author, quote->text) + task : task;
    account.configurePayload(request, targeted.target, text);
    return request;
}

HandoffPlan planHandoffs(const Account& account, const PendingRequest& job,
    const std::vector<TargetedAssignment>& accepted, bool directMention, Date now)
{
    const Text root = rootOf(job);
    std::optional<QuotedReply> quote;
    if (directMention)
        if (const ChatMessage* rootMessage = findMessage(account, root))
            quote = rootMessage->quotedReply;
    HandoffPlan plan;
    for (const auto& targeted : accepted) {
        Text handoffID(newUUID());
        plan.handoffs.push_back(Handoff { handoffID, root, job.botID, targeted.target.id,
            Text(targeted.assignment.task), HandoffStatus::working, job.id, directMention });
        plan.messages.push_back(handoffNote(job, targeted.target, handoffID, accepted.size() == 1, now));
        plan.jobs.push_back(teammateRequest(account, job, targeted, handoffID, quote));
        plan.messages.push_back(handoffTask(job, targeted, handoffID, now));
    }
    return plan;
}

// The delegating request leaves the queue as delegated; its teammates run before other waiting
// requests.
void applyHandoffPlan(Account& account, const PendingRequest& job, HandoffPlan plan)
{
    std::erase_if(account.jobs, [&](const PendingRequest& j) { return j.id == job.id; });
    account.setStatus(job.id, MessageStatus::delegated);
    if (!account.handoffs)
        account.handoffs.emplace();
    account.handoffs->insert(account.handoffs->end(), plan.handoffs.begin(), plan.handoffs.end());
    account.messages.insert(account.messages.end(), plan.messages.begin(), plan.messages.end());
    auto firstQueued = std::find_if(
        account.jobs.begin(), account.jobs.end(), [](const PendingRequest& j) { return j.phase == JobPhase::queued; });
    account.jobs.insert(firstQueued, plan.jobs.begin(), plan.jobs.end());
}

}  // namespace

// ---- The handoff block ------------------------------------------------------------------------

std::vector<HandoffAssignment> HandoffDirective::assignments() const
{
    if (handoffs)
        return (!to && !task) ? *handoffs : std::vector<HandoffAssignment> {};
    if (to && task)
        return { HandoffAssignment { *to, *task } };
    return {};
}

HandoffEnvelope handoffEnvelope(std::string_view text)
{
    using Kind = HandoffEnvelope::Kind;
    // Both forms of the label contain this literal, so a reply without it (nearly every reply)
    // needs no regular-expression pass at all.
    if (text.find("quorvane-handoff") == std::string_view::npos)
        return { Kind::none, std::nullopt };
    bool several = false;
    auto labelEnd = singleLabelEnd(text, several);
    if (!labelEnd)
        return { Kind::none, std::nullopt };
    if (several)
        return { Kind::invalid, std::nullopt };

    std::size_t pos = *labelEnd;
    while (pos < text.size()) {
        std::size_t next = pos;
        if (!isUnicodeWhitespace(decodeUTF8(text, next)))
            break;
        pos = next;
    }
    if (pos == text.size())
        return { Kind::incomplete, std::nullopt };
    if (text[pos] != '{')
        return { Kind::invalid, std::nullopt };

    std::size_t end = 0;
    switch (scanObject(text, pos, end)) {
    case ScanResult::incomplete:
        return { Kind::incomplete, std::nullopt };
    case ScanResult::tooLarge:
        return { Kind::invalid, std::nullopt };
    case ScanResult::complete:
        break;
    }
    auto directive = parseDirective(text.substr(pos, end - pos));
    if (!directive)
        return { Kind::invalid, std::nullopt };
    return { Kind::valid, std::move(directive) };
}

bool isHandoffResponse(std::string_view text) { return handoffEnvelope(text).kind != HandoffEnvelope::Kind::none; }

bool handoffResponseIsIncomplete(std::string_view text)
{
    return handoffEnvelope(text).kind == HandoffEnvelope::Kind::incomplete;
}

// ---- Acceptance -------------------------------------------------------------------------------

bool Account::acceptHandoff(const PendingRequest& delegating, std::string_view reply, bool directMention, Date now)
{
    // Callers may pass the job as it stands in `jobs`, which this operation edits: work on a copy.
    const PendingRequest job = delegating;
    // Every check runs before anything changes: the directive comes from the outside service
    // and a refused one must leave no trace.
    if (!mayHandOff(*this, job))
        return false;
    auto envelope = handoffEnvelope(reply);
    if (envelope.kind != HandoffEnvelope::Kind::valid || !envelope.directive
        || envelope.directive->request_id != job.id.view())
        return false;
    const std::vector<HandoffAssignment> assignments = envelope.directive->assignments();
    auto accepted = acceptedAssignments(*this, job, assignments);
    if (!accepted)
        return false;
    // Build everything first, then apply it in one go.
    applyHandoffPlan(*this, job, planHandoffs(*this, job, *accepted, directMention, now));
    return true;
}

// ---- The handoff tree -------------------------------------------------------------------------

void Account::finishHandoffStatuses(std::string_view rootID)
{
    // The id may be a view into a record that this operation changes.
    const std::string root(rootID);
    if (handoffs) {
        // One pass settles at least one more level of nesting, so this many passes always reach
        // the top of the tree.
        std::size_t passes = handoffs->size();
        for (std::size_t pass = 0; pass < passes; ++pass) {
            // Read through const access so that an unchanged list stays shared with its copies.
            const auto& settled = *handoffs;
            for (std::size_t i = 0; i < settled.size(); ++i) {
                const Handoff& handoff = settled[i];
                if (handoff.rootRequestID != root || handoff.status != HandoffStatus::working)
                    continue;
                if (std::any_of(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return j.id == handoff.id; }))
                    continue;
                bool childWorking = false;
                bool childStopped = false;
                for (const auto& child : settled) {
                    if (child.parentRequestID != handoff.id)
                        continue;
                    childWorking = childWorking || child.status == HandoffStatus::working;
                    childStopped = childStopped || child.status == HandoffStatus::stopped;
                }
                if (childWorking)
                    continue;
                Text id = handoff.id;
                handoffs->mutableAt(i).status = childStopped ? HandoffStatus::stopped : HandoffStatus::complete;
                setStatus(id, childStopped ? MessageStatus::unconfirmed : MessageStatus::sent);
            }
        }
    }

    bool stillWorking = false;
    bool anyStopped = false;
    if (handoffs) {
        for (const auto& handoff : *handoffs) {
            if (handoff.rootRequestID != root)
                continue;
            stillWorking = stillWorking || handoff.status == HandoffStatus::working;
            anyStopped = anyStopped || handoff.status == HandoffStatus::stopped;
        }
    }
    if (stillWorking
        || std::any_of(jobs.begin(), jobs.end(), [&](const PendingRequest& j) { return rootOf(j) == root; }))
        return;
    setStatus(root, anyStopped ? MessageStatus::unconfirmed : MessageStatus::sent);
}

std::vector<Text> Account::replyDestinations(const PendingRequest& job) const
{
    std::vector<Text> destinations;
    if (!job.returnBotID)
        return destinations;
    Text current = *job.returnBotID;
    std::optional<Text> parent = job.parentRequestID;
    std::unordered_set<Text> seen;
    // A chain that returns to a bot already listed is a loop in stored records; stop there.
    while (current != job.botID) {
        if (!seen.insert(current).second)
            break;
        destinations.push_back(current);
        const Handoff* handoff = parent ? findHandoff(handoffs, *parent) : nullptr;
        if (!handoff)
            break;
        current = handoff->sourceBotID;
        parent = handoff->parentRequestID;
    }
    return destinations;
}

bool Account::isRedundantHandoffReport(const PendingRequest& job) const
{
    if (!job.isReport.value_or(false) || !job.rootRequestID || !handoffs)
        return false;
    return std::any_of(handoffs->begin(), handoffs->end(),
        [&](const Handoff& h) { return h.rootRequestID == *job.rootRequestID && h.sourceBotID == job.botID; });
}

void Account::retireRedundantHandoffReports()
{
    std::vector<PendingRequest> redundant;
    if (replyWatches)
        for (const auto& watch : *replyWatches)
            if (isRedundantHandoffReport(watch.job))
                redundant.push_back(watch.job);
    for (const auto& job : jobs)
        if (isRedundantHandoffReport(job))
            redundant.push_back(job);
    if (redundant.empty())
        return;

    // Both forms of a destination's copy are removed: the id the copies are filed under
    // (R-reply-handoff-result-B) and the shorter form that older records may carry.
    std::unordered_set<std::string> retiredIDs;
    for (const auto& report : redundant) {
        retiredIDs.insert(report.id.str());
        retiredIDs.insert(replyID(report.id));
        for (const auto& destination : replyDestinations(report)) {
            retiredIDs.insert(handoffResultID(replyID(report.id), destination));
            retiredIDs.insert(handoffResultID(report.id, destination));
        }
    }
    erase_if(messages, [&](const ChatMessage& m) { return retiredIDs.contains(m.id.str()); });

    auto removable
        = [](const PendingRequest& job) { return job.phase == JobPhase::queued || job.phase == JobPhase::failed; };
    for (const auto& report : redundant) {
        if (!removable(report) || report.attempts.value_or(0) <= 0)
            continue;
        // Its text may already stand in the page composer.
        appendOnce(pendingDraftCleanup, report.payload);
    }
    std::erase_if(jobs, [&](const PendingRequest& job) { return removable(job) && isRedundantHandoffReport(job); });

    for (const auto& report : redundant) {
        if (!report.rootRequestID)
            continue;
        setStatus(*report.rootRequestID, MessageStatus::sent);
        for (std::size_t i = 0; i < handoffs->size(); ++i) {
            const Handoff& handoff = (*handoffs)[i];
            if (handoff.rootRequestID == *report.rootRequestID && handoff.status == HandoffStatus::working)
                handoffs->mutableAt(i).status = HandoffStatus::complete;
        }
    }
}

// ---- Direct mention ---------------------------------------------------------------------------

std::optional<TeammateMention> mentionedTeammate(
    const Account& account, std::string_view text, std::string_view excludingBotID)
{
    // Every candidate's pattern starts with "^@".
    if (!text.starts_with('@'))
        return std::nullopt;
    icu::UnicodeString subject
        = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    const Bot* candidate = nullptr;
    int32_t matchEnd = 0;  // in UTF-16 units of `subject`
    for (const auto& bot : account.bots) {
        if (bot.archived || bot.id == kPrimaryBotID || bot.id == excludingBotID)
            continue;
        // The pattern holds the bot's name, so it is compiled per bot; a crew is small and this
        // runs once per message the user sends.
        std::string source = "^@" + literalPattern(bot.name) + "(?=\\s|[,.:!?]|$)";
        UErrorCode status = U_ZERO_ERROR;
        UParseError where {};
        std::unique_ptr<icu::RegexPattern> pattern(
            icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(source), UREGEX_CASE_INSENSITIVE, where, status));
        if (U_FAILURE(status) || !pattern)
            continue;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(subject, status));
        if (U_FAILURE(status) || !matcher)
            continue;
        bool matches = matcher->find(status);
        if (U_FAILURE(status) || !matches)
            continue;
        if (candidate)
            return std::nullopt;
        candidate = &bot;
        matchEnd = matcher->end(status);
        if (U_FAILURE(status))
            return std::nullopt;
    }
    if (!candidate)
        return std::nullopt;
    // The text is valid UTF-8 (a Text), so the matched prefix converts back to the same bytes.
    std::string mention;
    subject.tempSubString(0, matchEnd).toUTF8String(mention);
    return TeammateMention { *candidate, mention.size() };
}

std::optional<Bot> Account::explicitTeammate(std::string_view text, std::string_view excludingBotID) const
{
    auto mention = mentionedTeammate(*this, text, excludingBotID);
    if (!mention)
        return std::nullopt;
    return std::move(mention->bot);
}

}  // namespace quorvane
