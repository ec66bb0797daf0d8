// What the controller does on every change and every turn, on a long history.
//   - a transaction that changes one message of 10,000 (copy, change, compare, save through a
//     store that only counts, publish): goal ≤ 3 ms;
//   - snapshot() and its comparison with the last published state when nothing changed (what
//     every turn's publication costs): goal ≤ 1 ms.
// Each is set beside its copy floor: the least any copy-on-change design must do for the same
// work (the vault copied with one message changed; the active account copied).
//   - the page's JSON of the whole state, and of one message, each at most twice what the vault's
//     encoder takes for the same data;
//   - one idle turn of the run loop (page unchanged, nothing to do) on an account of 10,000
//     messages and a page of 2,000: goal ≤ 1 ms of controller time;
//   - one turn while a reply streams (the reply grew; a live reply is built and published to a
//     counting onChange): goal ≤ 5 ms.
// The page's snapshots are made before they are needed, each message with its own storage as
// a fresh parse gives it, so the turn pays for every comparison a real one does; only the
// transport's own work (running the adapter, parsing its JSON) is left out.

#include <memory>

#include <benchmark/benchmark.h>

#include "BenchData.hpp"
#include "BenchReport.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/ReplyCorrelation.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/controller/Controller.hpp"
#include "quorvane/controller/PageJSON.hpp"

namespace {

using namespace quorvane;

constexpr std::size_t kMessages = 10'000;

class CountingStore final : public VaultStorage {
public:
    explicit CountingStore(Vault vault)
        : vault_(std::move(vault))
    {
    }
    Vault load() override { return vault_; }
    void save(const Vault&) override { ++saves; }
    int saves = 0;

private:
    Vault vault_;
};

// A page that answers every snapshot at once with what `next` gives.
class ScriptedPage final : public DotTransport {
public:
    explicit ScriptedPage(std::function<DotSnapshot()> next)
        : next_(std::move(next))
    {
    }
    bool loading() const override { return false; }
    const std::string& error() const override { return error_; }
    void setOnChange(std::function<void()>) override { }
    void open(std::string_view) override { }
    void show() override { }
    void showMessage(std::string, std::string) override { }
    void shutdown() override { }
    Task<DotSnapshot> inspect() override { co_return next_(); }
    Task<void> prepare(std::string, std::string) override { co_return; }
    Task<void> send(std::string, std::string) override { co_return; }
    Task<void> clearDraft(std::string, std::string) override { co_return; }
    bool windowVisible() const override { return false; }
    void hideWindow() override { }

private:
    std::function<DotSnapshot()> next_;
    std::string error_;
};

struct Platform final : TransportFactory, PowerActivity, Pasteboard, AvatarFetcher {
    std::unique_ptr<DotTransport> make(std::string_view) override
    {
        return std::make_unique<ScriptedPage>(pages ? pages : [] { return DotSnapshot {}; });
    }
    std::function<DotSnapshot()> pages;
    std::unique_ptr<Hold> hold(std::string_view) override { return std::make_unique<Hold>(); }
    void putPlainText(std::string_view) override { }
    Task<AvatarResponse> fetch(std::string) override { co_return AvatarResponse {}; }
};

struct Setup {
    const Vault& vault()
    {
        static const Vault sample = bench::makeVault(kMessages);
        return sample;
    }

    Setup()
    {
        controller = std::make_unique<Controller>(ControllerServices {
            .transports = platform,
            .power = platform,
            .pasteboard = platform,
            .avatars = platform,
            .openStore = [this]() -> std::unique_ptr<VaultStorage> { return std::make_unique<CountingStore>(vault()); },
            .scheduler = scheduler,
            .now = [this] { return 800'000'000 + scheduler.now(); },
        });
        controller->onChange = [this](const ClientState&) { ++publications; };
        controller->publish(true);
    }

    Platform platform;
    ManualScheduler scheduler;
    std::unique_ptr<Controller> controller;
    int publications = 0;
};

Setup& setup()
{
    static Setup shared;
    return shared;
}

void TransactionChangingOneMessage(benchmark::State& state)
{
    Controller& controller = *setup().controller;
    const std::string last = controller.vault().account().messages.back().id.str();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        controller.transaction([&](Vault& vault) {
            vault.account().setStatus(last, flip ? MessageStatus::streaming : MessageStatus::sent);
        });
    }
    if (setup().publications < static_cast<int>(state.iterations()))
        state.SkipWithError("a transaction did not publish");
}
BENCHMARK(TransactionChangingOneMessage)->Unit(benchmark::kMillisecond);

// The floor: the vault copied and one message changed, which unshares the message list.
void CopyFloorOfTransaction(benchmark::State& state)
{
    const Vault& vault = setup().controller->vault();
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        Vault copy = vault;
        copy.account().messages.mutableElements().back().status = flip ? MessageStatus::streaming : MessageStatus::sent;
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyFloorOfTransaction)->Unit(benchmark::kMillisecond);

void SnapshotUnchanged(benchmark::State& state)
{
    Controller& controller = *setup().controller;
    controller.publish(true);
    for (auto _ : state) {
        ClientState snapshot = controller.snapshot();
        bool same = snapshot == *controller.lastState;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(SnapshotUnchanged)->Unit(benchmark::kMillisecond);

// The floor: the active account copied, which the state must hold.
void CopyFloorOfSnapshot(benchmark::State& state)
{
    const Vault& vault = setup().controller->vault();
    for (auto _ : state) {
        Account copy = vault.account();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyFloorOfSnapshot)->Unit(benchmark::kMillisecond);

// ---- The page's JSON -----------------------------------------------------------------------------

// The whole state as the page receives it (each new document gets it once: 74 MB here), against
// the vault's own encoder writing the same account as the store does it, into a buffer reserved
// from the size of the last save. The two wire forms differ only in how dates are written.
//
// Both write tens of megabytes into memory the process has not touched yet, and on a virtual
// machine the system's first touch of each 4 KB page can cost more than the encoding itself; the
// page encoder asks for large pages for such a buffer, the store does not. So the same comparison
// is also made into a buffer kept from the last run (the encoders' own work), and the bare cost
// of that much fresh memory in 4 KB pages is shown beside them.
const ClientState& largeState()
{
    static const ClientState state = setup().controller->snapshot();
    return state;
}

void PageJSONOfState(benchmark::State& state)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = encodePageJSON(largeState());
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}
BENCHMARK(PageJSONOfState)->Unit(benchmark::kMillisecond);

void VaultJSONOfAccount(benchmark::State& state)
{
    const Account& account = largeState().account;
    const std::size_t lastSize = encodeJSON(account).size();
    for (auto _ : state) {
        std::string text;
        text.reserve(lastSize + lastSize / 16);
        appendJSON(text, account);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(VaultJSONOfAccount)->Unit(benchmark::kMillisecond);

void PageJSONOfStateWarm(benchmark::State& state)
{
    std::string text = encodePageJSON(largeState());
    for (auto _ : state) {
        text.clear();
        appendPageJSON(text, largeState());
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(PageJSONOfStateWarm)->Unit(benchmark::kMillisecond);

void VaultJSONOfAccountWarm(benchmark::State& state)
{
    std::string text = encodeJSON(largeState().account);
    for (auto _ : state) {
        text.clear();
        appendJSON(text, largeState().account);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(VaultJSONOfAccountWarm)->Unit(benchmark::kMillisecond);

// Fresh memory of the state's size, written once and freed.
void FreshMemoryOfState(benchmark::State& state)
{
    const std::size_t size = encodePageJSON(largeState()).size();
    for (auto _ : state) {
        std::string text(size, ' ');
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(FreshMemoryOfState)->Unit(benchmark::kMillisecond);

// One message of ~7 KB (what a change of the state sends for each new or changed message, and
// for the live reply on every streaming turn), against the vault's encoder of the same message.
void PageJSONOfMessage(benchmark::State& state)
{
    const ChatMessage& message = largeState().account.messages.back();
    for (auto _ : state) {
        std::string text;
        appendPageJSON(text, message);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(PageJSONOfMessage)->Unit(benchmark::kMicrosecond);

void VaultJSONOfMessage(benchmark::State& state)
{
    const ChatMessage& message = largeState().account.messages.back();
    for (auto _ : state) {
        std::string text = encodeJSON(message);
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(VaultJSONOfMessage)->Unit(benchmark::kMicrosecond);

// ---- The run loop ------------------------------------------------------------------------------

constexpr std::size_t kRequests = 1'000;  // answered and watched: 2,000 page messages
constexpr const char* kConversationURL = "https://dot.example/dots/0123ABCD-4567-89EF-0123-456789ABCDEF";
constexpr const char* kLiveToken = "feedfacecafe";

// The same messages, each string in storage of its own.
std::vector<DotMessage> freshCopy(const std::vector<DotMessage>& messages)
{
    std::vector<DotMessage> copy;
    copy.reserve(messages.size());
    for (const DotMessage& m : messages) {
        DotMessage c;
        c.id = Text(m.id.view());
        c.role = Text(m.role.view());
        c.text = Text(m.text.view());
        if (m.html)
            c.html = Text(m.html->view());
        c.attachments = m.attachments;
        copy.push_back(std::move(c));
    }
    return copy;
}

struct LoopSetup {
    // A connected account of 10,000 messages with 1,000 answered, watched requests on its page;
    // with `streaming`, one more request whose reply is being written.
    explicit LoopSetup(bool streaming)
    {
        DotService service;
        service.mainHost = service.staticHost = service.userContentHost = service.companyHost = "dot.example";
        service.homePath = "/dots";
        DotService::install(service);

        bench::WatchedConversation conversation = bench::makeWatchedConversation(kRequests, kMessages);
        Vault vault = Vault::fresh();
        conversation.account.id = vault.activeAccount;
        conversation.account.connectedOnce = true;
        conversation.account.dotURL = kConversationURL;
        if (streaming) {
            PendingRequest live;
            live.id = "LIVE";
            live.botID = "dot";
            live.replyToken = kLiveToken;
            live.payload = std::string("[Quorvane request LIVE]\n[Conversation: Dot]\n[Reply tag: [qv:") + kLiveToken
                + "]]\n[User message]\n" + bench::prose(300, 99);
            for (const auto& m : conversation.page)
                live.baseline.push_back(m.id);
            live.phase = JobPhase::waiting;
            live.userMessageID = "turn-live";
            live.submitted = 800'000'000.0;
            conversation.account.jobs = { live };
            conversation.account.messages.push_back(ChatMessage {
                "LIVE", "dot", MessageRole::user, "Tell me more", 800'000'000.0, MessageStatus::waiting });
            conversation.page.push_back(DotMessage { "turn-live", "user", live.payload });
        }
        vault.accounts = { conversation.account };
        page = conversation.page;
        copies = { freshCopy(page), freshCopy(page) };

        platform.pages = [this, streaming] {
            DotSnapshot snapshot;
            snapshot.url = kConversationURL;
            snapshot.ready = true;
            snapshot.busy = streaming;
            snapshot.messages = copies[turns++ % 2];
            if (streaming) {
                // The reply grows by a few words every turn.
                std::string tag = std::string("[qv:") + kLiveToken + "]";
                std::string text = bench::prose(400 + 12 * turns, 5);
                snapshot.messages.push_back(DotMessage {
                    "reply-live", "assistant", tag + "\n" + text, "<p>" + tag + "</p><p>" + text + "</p>" });
            }
            return snapshot;
        };
        controller = std::make_unique<Controller>(ControllerServices {
            .transports = platform,
            .power = platform,
            .pasteboard = platform,
            .avatars = platform,
            .openStore = [vault]() -> std::unique_ptr<VaultStorage> { return std::make_unique<CountingStore>(vault); },
            .scheduler = scheduler,
            .now = [this] { return 800'000'000 + scheduler.now(); },
        });
        controller->onChange = [this](const ClientState&) { ++publications; };
        controller->start();
        // Settle: the first turns reconcile and publish what they find.
        for (int i = 0; i < 4; ++i)
            scheduler.advance(0.5);
    }

    Platform platform;
    ManualScheduler scheduler;
    std::vector<DotMessage> page;
    std::vector<std::vector<DotMessage>> copies;
    std::size_t turns = 0;
    std::unique_ptr<Controller> controller;
    int publications = 0;
};

void IdleTurn(benchmark::State& state)
{
    static LoopSetup setup(false);
    const int publications = setup.publications;
    for (auto _ : state)
        setup.scheduler.advance(0.5);
    if (setup.publications != publications)
        state.SkipWithError("an idle turn published");
}
BENCHMARK(IdleTurn)->Unit(benchmark::kMillisecond);

void StreamingTurn(benchmark::State& state)
{
    static LoopSetup setup(true);
    const int publications = setup.publications;
    for (auto _ : state)
        setup.scheduler.advance(0.5);
    if (!setup.controller->liveReply)
        state.SkipWithError("no live reply");
    if (setup.publications - publications < static_cast<int>(state.iterations()))
        state.SkipWithError("a streaming turn did not publish");
}
BENCHMARK(StreamingTurn)->Unit(benchmark::kMillisecond);

// What an idle turn cannot avoid: the page's messages made unique, and compared with those of the
// last turn (equal, but in storage of their own).
void IdleTurnPageWork(benchmark::State& state)
{
    static const bench::WatchedConversation conversation = bench::makeWatchedConversation(kRequests, kMessages);
    static const std::vector<DotMessage> a = freshCopy(conversation.page), b = freshCopy(conversation.page);
    for (auto _ : state) {
        std::vector<DotMessage> unique = uniqueDotMessages(a);
        bool same = unique == b;
        benchmark::DoNotOptimize(same);
    }
}
BENCHMARK(IdleTurnPageWork)->Unit(benchmark::kMillisecond);

// What a streaming turn would cost on top if it reconciled the page with its 1,000 watched
// requests: it does not, since only the streaming reply changed (see PageChange.hpp).
void StreamingTurnReconciliation(benchmark::State& state)
{
    static const bench::WatchedConversation conversation = bench::makeWatchedConversation(kRequests, kMessages);
    for (auto _ : state) {
        Account account = conversation.account;
        account.applyPageChange(conversation.page, 6000);
        benchmark::DoNotOptimize(account);
    }
}
BENCHMARK(StreamingTurnReconciliation)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    using quorvane::bench::Clock;
    return quorvane::bench::runBenchmarks(argc, argv,
        {
            { "controller transaction, one of 10,000 messages of ~7 KB changed", "TransactionChangingOneMessage",
                std::nullopt, 3.0, Clock::cpu },
            { "against its copy floor", "TransactionChangingOneMessage", "CopyFloorOfTransaction", std::nullopt,
                Clock::cpu, true },
            { "controller snapshot() + equality, unchanged (10,000 messages)", "SnapshotUnchanged", std::nullopt, 1.0,
                Clock::cpu },
            { "against its copy floor", "SnapshotUnchanged", "CopyFloorOfSnapshot", std::nullopt, Clock::cpu, true },
            { "page JSON of the whole state (10,000 messages, 74 MB) vs the vault encoder", "PageJSONOfState",
                "VaultJSONOfAccount", 2.0, Clock::cpu },
            { "written into memory already in use", "PageJSONOfStateWarm", "VaultJSONOfAccountWarm", 2.0, Clock::cpu,
                true },
            { "the system's cost of that much fresh memory in 4 KB pages", "FreshMemoryOfState", std::nullopt,
                std::nullopt, Clock::cpu, true },
            { "page JSON of one message of ~7 KB (a new message, the live reply)", "PageJSONOfMessage",
                "VaultJSONOfMessage", 2.0, Clock::cpu },
            { "run loop idle turn (10,000 messages, 2,000-message page, 1,000 watches)", "IdleTurn", std::nullopt, 1.0,
                Clock::cpu },
            { "of which the page's messages made unique and compared", "IdleTurnPageWork", std::nullopt, std::nullopt,
                Clock::cpu, true },
            { "run loop turn while a reply streams (same account and page)", "StreamingTurn", std::nullopt, 5.0,
                Clock::cpu },
            { "reconciliation it skips (only its own reply changed)", "StreamingTurnReconciliation", std::nullopt,
                std::nullopt, Clock::cpu, true },
        });
}
