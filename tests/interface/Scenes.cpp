#include "Scenes.hpp"

#include <cstdio>
#include <stdexcept>

#include "quorvane/Date.hpp"

namespace quorvane::testing {

namespace {

constexpr Date kNow = 820000000.0;  // 2026-12-26, so every date renders the same way

std::string teammate(Account& account, const std::string& name, const std::string& kind, const std::string& personality,
    const std::string& role = "")
{
    BotEdit edit;
    edit.name = name;
    edit.kind = kind;
    edit.personality = personality;
    if (!role.empty())
        edit.role = role;
    account.saveBot(edit);
    return std::string(account.bots.back().id.view());
}

// One question and its answer, as the run loop would file them.
void exchange(Account& account, std::size_t& counter, const std::string& botID, const std::string& question,
    const std::string& reply, const std::optional<std::string>& html,
    const std::optional<std::vector<ReplyPart>>& parts, Date when)
{
    std::string id = requestID(++counter);
    account.enqueue(question, id, false, Text(botID), std::nullopt, std::nullopt, when);
    for (auto& job : account.jobs)
        if (job.id == id) {
            job.phase = JobPhase::waiting;
            job.submitted = when;
        }
    account.acceptResponse(
        id, ReplyContent { reply, html ? std::optional<Text>(*html) : std::nullopt, parts }, false, when + 20);
}

ReplyPart part(const std::string& id, const std::string& text, const std::string& html)
{
    ReplyPart p;
    p.id = id;
    p.text = text;
    p.html = html;
    return p;
}

SceneState connected(Vault vault)
{
    SceneState state;
    vault.account().connectedOnce = true;
    vault.account().dotURL = "https://dot.example/dots/home";
    state.vault = std::move(vault);
    state.connection = ConnectionStatus::connected;
    return state;
}

}  // namespace

ClientState clientState(const SceneState& scene)
{
    ClientState state;
    state.account = scene.vault.account();
    state.theme = scene.vault.theme;
    state.appIconStyle = scene.vault.appIconStyle.value_or(AppIconStyle::quorvane);
    state.connection = scene.connection;
    state.issue = scene.issue;
    state.fileIssue = scene.fileIssue;
    state.storageHealthy = scene.storageHealthy;
    for (std::size_t i = 0; i < scene.vault.accounts.size(); ++i) {
        const Account& account = scene.vault.accounts[i];
        Text name = account.label == Text("Your Dot") ? Text("Dot connection " + std::to_string(i + 1)) : account.label;
        state.accounts.push_back({ account.id, name, account.id == scene.vault.activeAccount });
    }
    state.systemDark = scene.systemDark;
    state.liveReply = scene.liveReply;
    state.liveReplies = scene.liveReplies;
    return state;
}

std::string encodeState(const SceneState& scene) { return encodePageJSON(clientState(scene)); }

std::string requestID(std::size_t n)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "00000000-0000-4000-8000-%012zu", n);
    return buffer;
}

SceneState emptyCrew()
{
    SceneState state;
    state.vault = Vault::fresh();
    state.connection = ConnectionStatus::disconnected;
    return state;
}

SceneState buildBusyConversation()
{
    Vault vault = Vault::fresh();
    Account& a = vault.account();
    std::size_t n = 0;
    std::string ceo = teammate(a, "Ada", "coder",
        "A careful senior engineer. Explains trade-offs plainly and writes small, tested code.", "Staff engineer");
    std::string muse
        = teammate(a, "Muse", "muse", "Playful and imaginative. Finds unexpected angles and creative connections.");
    std::string coach
        = teammate(a, "Coach Rio", "coach", "Encouraging, practical, keeps plans realistic.", "Fitness coach");
    std::string old = teammate(a, "Old Planner", "planner", "Plans trips in detail.", "Travel planner");
    a.archive(old);
    a.selectedBot = "dot";

    exchange(a, n, "dot", "What should I focus on this week?",
        "Three things stand out.\n\nShip the onboarding fix first.",
        std::string("<p>Three things stand out:</p><ol><li><strong>Ship the onboarding fix</strong> &mdash; it blocks "
                    "the release.</li>"
                    "<li>Review Ada&rsquo;s <code>sync</code> patch.</li><li>Block two hours for the roadmap.</li></ol>"
                    "<p>Want me to draft the roadmap outline?</p>"),
        std::nullopt, kNow - 7200);
    std::vector<ReplyPart> parts { part("page-msg-101", "Here is the outline.",
                                       "<p>Here is the outline:</p><ul><li>Goals</li><li>Risks</li></ul>"),
        part("page-msg-102", "And a table of owners.",
            "<table><tr><th>Area</th><th>Owner</th></tr><tr><td>Sync</td><td>Ada</td></tr><tr><td>Design</td><td>Muse</"
            "td></tr></table>") };
    exchange(a, n, "dot", "Yes please, draft it.", "Here is the outline.\n\nAnd a table of owners.", std::nullopt,
        parts, kNow - 7000);
    exchange(a, n, ceo, "Is the sync patch safe to merge?", "Mostly. One race remains.",
        std::string("<p>Mostly. One race remains in <code>flush()</code>:</p><pre><code>if (pending) {\n  await "
                    "save();\n}</code></pre>"
                    "<p>See <a href=\"https://example.com/race\">the write-up</a>.</p>"),
        std::nullopt, kNow - 6000);
    exchange(a, n, muse, "Give me a tagline for the launch.", "“Your crew, one conversation away.”", std::nullopt,
        std::nullopt, kNow - 5000);
    exchange(a, n, coach, "Plan a light week of training.", "Monday: 30 minutes easy run.", std::nullopt, std::nullopt,
        kNow - 4000);

    // A task the user hands to Muse from the primary bot's conversation; Muse's answer is copied
    // back into Dot's conversation, marked as written by Muse.
    std::string handoff = requestID(++n);
    a.enqueue(
        "@Muse three names for the new feature", handoff, false, Text("dot"), std::nullopt, std::nullopt, kNow - 3600);
    for (std::size_t guard = 0; guard < 4 && !a.jobs.empty(); ++guard) {
        PendingRequest job = a.jobs.front();
        std::string reply
            = job.botID == Text(muse) ? "Crewline, Relay, Chorus." : "Muse suggests Crewline, Relay or Chorus.";
        a.acceptResponse(job.id, ReplyContent { reply }, false, kNow - 3500);
    }

    // The user's latest messages, one for each state that offers an action.
    auto queue = [&](const std::string& text, Date when) {
        std::string id = requestID(++n);
        a.enqueue(text, id, false, Text("dot"), std::nullopt, std::nullopt, when);
        return id;
    };
    std::string unconfirmed = requestID(++n);
    a.enqueue("Did the invoice go out?", unconfirmed, false, Text("dot"), std::nullopt, std::nullopt, kNow - 1500);
    for (auto& job : a.jobs)
        if (job.id == unconfirmed) {
            job.phase = JobPhase::uncertain;
            job.submitted = kNow - 1500;
        }
    a.stopWaiting(unconfirmed);
    a.setStatus(unconfirmed, MessageStatus::deliveryMissing);

    std::string failed = queue("Summarise yesterday’s meeting notes.", kNow - 1200);
    std::string uncertain = queue("Remind me what we decided about pricing.", kNow - 900);
    std::string waiting = queue("Draft a reply to Sam about the launch date.", kNow - 300);
    std::string queued = queue("Then list open questions for Monday.", kNow - 60);
    for (auto& job : a.jobs) {
        if (job.id == failed) {
            job.phase = JobPhase::failed;
            job.note = "Dot didn’t accept this message. Check the Dot window.";
        } else if (job.id == uncertain) {
            job.phase = JobPhase::uncertain;
            job.submitted = kNow - 880;
        } else if (job.id == waiting) {
            job.phase = JobPhase::waiting;
            job.submitted = kNow - 280;
        }
    }
    a.setStatus(failed, MessageStatus::failed);
    a.setStatus(uncertain, MessageStatus::uncertain);
    a.setStatus(waiting, MessageStatus::waiting);
    (void)queued;
    a.drafts["dot"] = "";

    // The user chose to reply to the outline part: the composer shows the quote.
    a.draftReplies.emplace();
    (*a.draftReplies)["dot"] = a.quotedMessage(requestID(2) + "-reply", Text("page-msg-101"), "dot");

    // A reply Dot shows that belongs to no request.
    UnassignedReply stray;
    stray.id = "page-msg-900";
    stray.message.id = "page-msg-900";
    stray.message.role = "assistant";
    stray.message.text = "By the way: the venue confirmed Thursday.";
    stray.message.html = "<p>By the way: the venue confirmed <strong>Thursday</strong>.</p>";
    stray.date = kNow - 100;
    a.unassignedReplies = std::vector<UnassignedReply> { stray };
    return connected(std::move(vault));
}

// Built once: bot and account ids are random, and every test of a run must see the same ones.
SceneState busyConversation()
{
    static const SceneState built = buildBusyConversation();
    return built;
}

SceneState withLiveReply(const SceneState& base, std::size_t length)
{
    SceneState state = base;
    const Account& a = state.vault.account();
    const PendingRequest* waiting = nullptr;
    for (const auto& job : a.jobs)
        if (job.phase == JobPhase::waiting)
            waiting = &job;
    if (!waiting)
        throw std::runtime_error("no waiting request to stream a reply for");
    std::string text = "Hi Sam, thanks for checking in about the launch. ";
    while (text.size() < length)
        text += "We are on track for the second week of January; the last fixes land this week and the notes follow. ";
    text.resize(length);
    ChatMessage live;
    live.id = waiting->id + "-reply";
    live.botID = waiting->botID;
    live.role = MessageRole::assistant;
    live.text = text;
    live.html = "<p>" + text + "</p>";
    live.date = kNow - 250;
    live.status = MessageStatus::streaming;
    state.liveReply = live;
    state.liveReplies = a.projectedReplies(live, *waiting);
    return state;
}

SceneState streamingReply(std::size_t length) { return withLiveReply(busyConversation(), length); }

SceneState runawayCrew()
{
    Vault vault = Vault::fresh();
    Account& a = vault.account();
    std::vector<std::string> crew { teammate(a, "Muse", "muse", "Playful and imaginative."),
        teammate(a, "Sage", "coder", "A careful reviewer who checks facts.") };
    a.selectedBot = "dot";
    const std::string root = requestID(1);
    a.enqueue("Plan the launch party for Friday.", root, false, Text("dot"), std::nullopt, std::nullopt, kNow - 600);
    // Every answer hands the work on to every other teammate, as a model that will not stop
    // delegating does, until the crew's limits refuse it and the queue drains.
    for (std::size_t turn = 0; turn < 40 && !a.jobs.empty(); ++turn) {
        const PendingRequest job = a.jobs.front();
        std::string handoffs;
        for (const auto& id : crew) {
            if (job.botID == Text(id))
                continue;
            handoffs += std::string(handoffs.empty() ? "" : ",") + R"({"to":")" + id + R"(","task":"Carry this on."})";
        }
        const std::string reply = "I\u2019ll ask my teammates.\n\n```quorvane-handoff\n{\"request_id\":\""
            + std::string(job.id.view()) + "\",\"handoffs\":[" + handoffs + "]}\n```";
        a.acceptResponse(job.id, ReplyContent { reply }, false, kNow - 590 + double(turn) * 10);
    }
    SceneState state;
    state.vault = std::move(vault);
    return state;
}

SceneState signInNeeded()
{
    SceneState state = busyConversation();
    state.connection = ConnectionStatus::expired;
    return state;
}

SceneState storageUnavailable()
{
    SceneState state = busyConversation();
    state.storageHealthy = false;
    state.issue = "Your conversation couldn\u2019t be saved. Sending is paused; your visible draft is still here.";
    return state;
}

SceneState largeHistory(std::size_t total, std::size_t bots, std::size_t bytes)
{
    Vault vault = Vault::fresh();
    Account& a = vault.account();
    std::vector<std::string> ids { "dot" };
    static const char* kinds[]
        = { "coder", "muse", "coach", "scientist", "chef", "pilot", "writer", "robot", "reader" };
    for (std::size_t b = 1; b < bots; ++b)
        ids.push_back(teammate(
            a, "Teammate " + std::to_string(b), kinds[b % 9], "A helpful teammate number " + std::to_string(b) + "."));
    a.selectedBot = "dot";
    std::size_t n = 0;
    std::string paragraph = "<p>Here is a paragraph of a long answer with <strong>some emphasis</strong>, a "
                            "<a href=\"https://example.com/doc\">link</a> and <code>inline code</code> so the "
                            "sanitiser and the layout have real work to do.</p>";
    std::string html;
    while (html.size() < bytes)
        html += paragraph;
    std::string text(bytes / 2, 'x');
    for (std::size_t i = 0; i < total / 2; ++i) {
        const std::string& bot = ids[i % ids.size()];
        exchange(a, n, bot, "Question number " + std::to_string(i) + ": " + std::string(200, 'q'), text, html,
            std::nullopt, kNow - double(total - i) * 60);
    }
    a.unreadBots.reset();
    return connected(std::move(vault));
}

}  // namespace quorvane::testing
