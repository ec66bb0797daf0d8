#pragma once

// Everything the controller needs from the platform, handed in at construction so that the
// controller itself stays free of GTK and WebKit and every effect can be replaced in tests.
// The services must outlive the controller.
//
//   openStore       opens the vault store; may throw (a locked keyring, an unusable folder).
//                   The default opens the SecureStore in the XDG data folder.
//   transports      makes the Dot page transport for an account's browser profile.
//   scheduler, now  the run loop's waits, and the dates it stamps and compares. Tests give a
//                   ManualScheduler and a clock that follows it, so one hand drives both.
//   power           keeps the session awake while a reply is expected.
//   pasteboard      for the "copy" command.
//   avatars         fetches the Dot profile picture.
//   files           offers exported files to the user (the desktop's save dialog).
//   notifications   hears of every finished reply (the desktop's notifications).
//   statusFile      where the diagnostics status file goes (tests point it elsewhere).

#include <filesystem>
#include <functional>
#include <memory>

#include "quorvane/Date.hpp"
#include "quorvane/VaultStorage.hpp"
#include "quorvane/async/Scheduler.hpp"
#include "quorvane/controller/AvatarFetcher.hpp"
#include "quorvane/controller/FileSaver.hpp"
#include "quorvane/controller/Pasteboard.hpp"
#include "quorvane/controller/PowerActivity.hpp"
#include "quorvane/controller/ReplyNotifier.hpp"
#include "quorvane/controller/StatusFile.hpp"
#include "quorvane/controller/TransportFactory.hpp"

namespace quorvane {

// The SecureStore in <data home>/Quorvane, its key in the desktop keyring.
std::unique_ptr<VaultStorage> openDefaultStore();

struct ControllerServices {
    TransportFactory& transports;
    PowerActivity& power;
    Pasteboard& pasteboard;
    AvatarFetcher& avatars;
    FileSaver& files = FileSaver::unavailable();
    ReplyNotifier& notifications = ReplyNotifier::none();
    std::function<std::unique_ptr<VaultStorage>()> openStore = openDefaultStore;
    Scheduler& scheduler = GLibScheduler::shared();
    std::function<Date()> now = systemNow;
    std::filesystem::path statusFile = kStatusFilePath;
};

}  // namespace quorvane
