#pragma once

// What every controller test needs: stand-ins for the platform services (a store that counts,
// scripted pages, a power activity and pasteboard that record, an avatar fetcher that answers on
// the manual clock), one ManualScheduler that drives both the loop's waits and the dates it
// stamps, a Dot service configuration, and a controller built from all of them.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakePage.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/SecureStore.hpp"
#include "quorvane/async/Sleep.hpp"
#include "quorvane/async/TaskScope.hpp"
#include "quorvane/controller/Controller.hpp"

namespace quorvane::testing {

// What a FakeStore did, shared with the test after the controller took the store.
struct StoreRecord {
    std::optional<Vault> saved;  // what load() returns (a fresh vault when absent)
    int loads = 0;
    int saves = 0;
    bool failLoad = false;
    bool failSave = false;
};

class FakeStore final : public VaultStorage {
public:
    explicit FakeStore(std::shared_ptr<StoreRecord> record)
        : record_(std::move(record))
    {
    }
    Vault load() override
    {
        ++record_->loads;
        if (record_->failLoad)
            throw StorageError(StorageError::Kind::authentication, "The vault could not be decrypted.");
        return record_->saved.value_or(Vault::fresh());
    }
    void save(const Vault& vault) override
    {
        if (record_->failSave)
            throw StorageError(StorageError::Kind::fileSystem, "The disk is full.");
        ++record_->saves;
        record_->saved = vault;
    }

private:
    std::shared_ptr<StoreRecord> record_;
};

class FakeTransports final : public TransportFactory {
public:
    explicit FakeTransports(Scheduler& scheduler)
        : scheduler_(scheduler)
    {
    }
    std::unique_ptr<DotTransport> make(std::string_view browserProfile) override
    {
        auto page = std::make_unique<FakePage>(scheduler_, std::string(browserProfile));
        if (prepare)
            prepare(*page);
        pages.push_back(page.get());
        return page;
    }
    std::vector<FakePage*> pages;  // every page made, the current one last
    std::function<void(FakePage&)> prepare;  // scripts each new page before the controller sees it

private:
    Scheduler& scheduler_;
};

class FakePower final : public PowerActivity {
public:
    struct Counts {
        int holds = 0;
        int releases = 0;
        std::string reason;
        bool held() const { return holds > releases; }
    };
    std::unique_ptr<Hold> hold(std::string_view reason) override
    {
        ++counts->holds;
        counts->reason = reason;
        struct CountingHold final : Hold {
            std::shared_ptr<Counts> counts;
            ~CountingHold() override { ++counts->releases; }
        };
        auto hold = std::make_unique<CountingHold>();
        hold->counts = counts;
        return hold;
    }
    std::shared_ptr<Counts> counts = std::make_shared<Counts>();
};

class FakePasteboard final : public Pasteboard {
public:
    void putPlainText(std::string_view text) override { contents = text; }
    std::optional<std::string> contents;
};

// Keeps every file offered and the callback that answers it, for the test to answer when it
// chooses (the user's dialog), or at once with `answerAtOnce`.
class RecordingFileSaver final : public FileSaver {
public:
    void offer(FileOffer offer, std::function<void(FileOfferOutcome)> done) override
    {
        offers.push_back(std::move(offer));
        if (answerAtOnce)
            done(*answerAtOnce);
        else
            pending.push_back(std::move(done));
    }
    // Answers the oldest offer not answered yet.
    void answer(FileOfferOutcome outcome)
    {
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        done(std::move(outcome));
    }
    std::vector<FileOffer> offers;
    std::vector<std::function<void(FileOfferOutcome)>> pending;
    std::optional<FileOfferOutcome> answerAtOnce;
};

class RecordingReplyNotifier final : public ReplyNotifier {
public:
    void replyFiled(const ReplyNotice& notice) override { notices.push_back(notice); }
    std::vector<ReplyNotice> notices;
};

// Answers each address from a table after `delay` seconds on the manual clock; an address not in
// the table fails like an unreachable host. A fetch that is cancelled while it waits never
// reaches `completed`.
class FakeAvatars final : public AvatarFetcher {
public:
    explicit FakeAvatars(Scheduler& scheduler)
        : scheduler_(scheduler)
    {
    }
    Task<AvatarResponse> fetch(std::string url) override
    {
        fetched.push_back(url);
        co_await sleepFor(scheduler_, delay);
        completed.push_back(url);
        auto found = responses.find(url);
        if (found == responses.end())
            throw std::runtime_error("Could not connect to " + url);
        co_return found->second;
    }
    std::map<std::string, AvatarResponse> responses;
    std::vector<std::string> fetched;
    std::vector<std::string> completed;
    double delay = 1;

private:
    Scheduler& scheduler_;
};

// The message of whatever `action` throws, or "" when it succeeds.
inline std::string failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

// The Dot service the tests talk to.
inline DotService testService()
{
    DotService service;
    service.mainHost = "dot.example";
    service.staticHost = "static.dot.example";
    service.userContentHost = "files.dotcontent.example";
    service.companyHost = "dotcompany.example";
    service.homePath = "/dots";
    return service;
}

inline constexpr const char* kHome = "https://dot.example/dots/home";
inline constexpr const char* kConversation = "https://dot.example/dots/6f1c2a3e-1d2b-4c5d-9e8f-0a1b2c3d4e5f";

class ControllerTest : public ::testing::Test {
protected:
    static constexpr Date kOrigin = 800'000'000;  // the manual clock's zero, as a record date

    ControllerTest() { DotService::install(testService()); }
    ~ControllerTest() override
    {
        // Tasks of the test go before the controller they point into.
        scope.reset();
        controller.reset();
    }

    ControllerServices services()
    {
        return ControllerServices {
            .transports = transports,
            .power = power,
            .pasteboard = pasteboard,
            .avatars = avatars,
            .files = files,
            .notifications = notifier,
            .openStore
            = [record = store]() -> std::unique_ptr<VaultStorage> { return std::make_unique<FakeStore>(record); },
            .scheduler = scheduler,
            .now = [this] { return kOrigin + scheduler.now(); },
            .statusFile = statusFile,
        };
    }

    // A controller over a store that holds `vault` (a fresh one when absent).
    Controller& make(std::optional<Vault> vault = std::nullopt)
    {
        if (vault)
            store->saved = *vault;
        return make(services());
    }
    Controller& make(ControllerServices given)
    {
        started = scheduler.now();
        controller = std::make_unique<Controller>(std::move(given));
        controller->onChange = [this](const ClientState& state) { published.push_back(state); };
        return *controller;
    }

    FakePage& page() const { return *transports.pages.back(); }
    Date now() const { return kOrigin + scheduler.now(); }
    // Runs a task of the test on the manual clock (it starts at once).
    TaskHandle spawn(Task<void> task) { return scope->spawn(std::move(task)); }

    // A vault whose active account has connected before, at `url`.
    static Vault connectedVault(std::string url = kConversation)
    {
        Vault vault = Vault::fresh();
        vault.account().connectedOnce = true;
        vault.account().dotURL = url;
        return vault;
    }

    ManualScheduler scheduler;
    std::shared_ptr<StoreRecord> store = std::make_shared<StoreRecord>();
    FakeTransports transports { scheduler };
    FakePower power;
    FakePasteboard pasteboard;
    FakeAvatars avatars { scheduler };
    RecordingFileSaver files;
    RecordingReplyNotifier notifier;
    std::filesystem::path statusFile = "/nonexistent-quorvane-test/status.json";
    std::unique_ptr<Controller> controller;
    std::vector<ClientState> published;
    double started = 0;  // the manual clock when the controller was made
    std::unique_ptr<TaskScope> scope = std::make_unique<TaskScope>();
};

}  // namespace quorvane::testing
