#include "quorvane/shell/AppDelegate.hpp"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <boost/json/serialize.hpp>
#include <boost/json/value_from.hpp>

#include "quorvane/AppFailure.hpp"
#include "quorvane/DotService.hpp"
#include "quorvane/controller/AvatarSource.hpp"
#include "quorvane/controller/SoupAvatarFetcher.hpp"
#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/shell/Menus.hpp"
#include "quorvane/shell/PageCall.hpp"
#include "quorvane/shell/WeakOwner.hpp"
#include "quorvane/updates/AppBundle.hpp"
#include "quorvane/updates/AppcastUpdateDriver.hpp"

namespace quorvane {

namespace {

std::unique_ptr<AvatarFetcher> makeAvatarFetcher()
{
    SoupAvatarFetcherOptions options;
    options.allowed = [](std::string_view url) { return isAllowedAvatarAddress(url, DotService::current()); };
    options.trustedCertificate = DotService::current().trustedCertificate;
    try {
        return std::make_unique<SoupAvatarFetcher>(options);
    } catch (const std::exception& error) {
        g_warning("%s", error.what());
        options.trustedCertificate.reset();
        return std::make_unique<SoupAvatarFetcher>(options);
    }
}

std::shared_ptr<UpdateDriver> updateDriver(const ShellOptions& options)
{
    if (options.updateDriver)
        return options.updateDriver;
    return std::make_shared<AppcastUpdateDriver>();
}

// Hands memory that the allocator holds free back to the system. Opening a long history and
// its first publication to the page each pass tens of megabytes through short-lived buffers
// (the decrypted text, the decoded document, the page's JSON), which would otherwise stay with
// the process as free heap.
void releaseFreeMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

#ifdef NDEBUG
constexpr bool kDebugBuild = false;
#else
constexpr bool kDebugBuild = true;
#endif

}  // namespace

AppDelegate::AppDelegate(GtkApplication* application, ShellOptions options)
    : application_(application)
    , options_(std::move(options))
    , resourceRoot_(options_.resourceRoot.empty() ? options_.dataDirectory / "UI" : options_.resourceRoot)
    , settings_(options_.dataDirectory)
    , power_(application)
    , transports_(options_.dataDirectory)
    , files_([this]() -> GtkWindow* { return window_ ? window_->window() : nullptr; })
    , notifier_(DesktopReplyNotifier::Hooks {
          .windowActive = [this] { return window_ && gtk_window_is_active(window_->window()); },
          .enabled = [this] { return settings_.replyNotifications(); },
          .send =
              [this](const DesktopNotification& notification) {
                  if (options_.sendNotification)
                      options_.sendNotification(notification);
                  else
                      sendDesktopNotification(G_APPLICATION(application_), notification);
              },
      })
    , appUpdater_(updateDriver(options_))
    , transport_(options_.publicationPartBytes)
{
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(resourceRoot_, error);
    if (!error)
        resourceRoot_ = canonical;
    indexFile_ = (resourceRoot_ / "index.html").lexically_normal();
}

AppDelegate::~AppDelegate()
{
    lifetime_.end();
    if (alert_)
        gtk_window_destroy(GTK_WINDOW(alert_));
    if (controller_)
        controller_->onChange = nullptr;
    appUpdater_.onChange = nullptr;
    controller_.reset();
    bridge_.reset();
    window_.reset();
    view_.reset();
}

// ---- Start-up -------------------------------------------------------------------------------

void AppDelegate::launchFinished()
{
    if (launched_)
        return;
    launched_ = true;
    auto token = lifetime_.token();

    // 1. The page's web view, its bridge and its hardening. The page starts loading at once:
    // WebKit starts its web and network processes for it, which takes seconds on a busy machine,
    // and they do that while this process loads the vault below. Nothing the page sends is read
    // before this function returns, and the page gets the state only once it reports ready.
    InterfaceViewOptions viewOptions;
    viewOptions.indexFile = indexFile_;
    if (!options_.contentSecurityPolicy.empty())
        viewOptions.contentSecurityPolicy = options_.contentSecurityPolicy;
    viewOptions.developerExtras = kDebugBuild;
    viewOptions.testDriver = options_.testDriver;
    viewOptions.openURI = [this, token](const std::string& uri) {
        if (token.expired())
            return;
        if (options_.openURI) {
            options_.openURI(uri);
        } else {
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            gtk_show_uri(window_ ? window_->window() : nullptr, uri.c_str(), GDK_CURRENT_TIME);
            G_GNUC_END_IGNORE_DEPRECATIONS
        }
    };
    viewOptions.chooseFile = weakCallback(token, [this](WebKitFileChooserRequest* request) { chooseFile(request); });
    viewOptions.onLoadChanged = weakCallback(token, [this](WebKitLoadEvent event) { onLoadChanged(event); });
    viewOptions.onWebProcessTerminated = weakCallback(token, [this] { onWebProcessTerminated(); });
    view_ = std::make_unique<InterfaceView>(std::move(viewOptions));
    bridge_ = std::make_unique<InterfaceBridge>(view_->contentManager(), indexFile_,
        weakCallback(token, [this](PageMessage message) { onPageMessage(std::move(message)); }));

    if (options_.testDriver)
        driver_ = std::make_unique<TestDriver>(*this);
    view_->load();

    // 2. The vault's storage opens on a thread of its own while the window and the page start.
    storageOpening_ = std::make_unique<StorageOpening>(options_.openStore ? options_.openStore : openDefaultStore,
        weakCallback(token, [this](OpenedStorage storage) { storageOpened(std::move(storage)); }));

    // 5–7. The main window, in the theme the vault held when Quorvane last ran.
    GMenuModel* primary = menus::primaryMenu();
    window_ = std::make_unique<MainWindow>(application_, view_->webView(), primary, settings_);
    g_object_unref(primary);
    applyTheme(fromString<Theme>(settings_.startTheme()).value_or(Theme::system), appearance_.prefersDark());
    window_->present();

    // 8. Menus.
    installActions();
    GMenuModel* bar = menus::mainMenu();
    gtk_application_set_menubar(application_, bar);
    g_object_unref(bar);
    menus::installAccelerators(application_);

    // 9. The updater. The user's own choice about automatic checks overrides the installation's.
    appUpdater_.onChange = weakCallback(token, [this](const AppUpdateState& update) { publishUpdate(update); });
    AppBundle bundle = AppBundle::load(options_.dataDirectory);
    if (auto automatic = settings_.automaticUpdateChecks(); automatic && bundle.infoDictionary)
        (*bundle.infoDictionary)["SUEnableAutomaticChecks"] = *automatic;
    appUpdater_.start(bundle);

    // 11. The desktop's appearance, first answer included.
    appearance_.observe(weakCallback(token, [this](bool dark) {
        if (!controller_)
            return;  // the controller starts with the answer of the moment
        controller_->systemDark = dark;
        ClientState state = controller_->snapshot();
        applyAppearance(state);
        controller_->lastState = state;
        if (controller_->onChange)
            controller_->onChange(state);
    }));
}

void AppDelegate::storageOpened(OpenedStorage storage)
{
    auto token = lifetime_.token();
    storageOpening_.reset();
    avatars_ = makeAvatarFetcher();
    ControllerServices services { transports_, power_, pasteboard_, *avatars_, files_, notifier_ };
    controller_ = std::make_unique<Controller>(std::move(services), std::move(storage));
    controller_->systemDark = appearance_.prefersDark();
    // The load's and the start-up save's working memory is free again: give it back to the
    // system rather than keep it for the process's whole life.
    releaseFreeMemory();

    // 10. State publication.
    controller_->onChange = weakCallback(token, [this](const ClientState& state) { publish(state); });
    applyAppearance(controller_->snapshot());

    // 12. The run loop, and the commands the page sent while the vault was opening.
    controller_->start();
    if (ready_)
        sendSnapshot();
    else
        transport_.prepare(controller_->snapshot());  // the page is still loading: encode ahead
    for (PageMessage& message : std::exchange(waitingCommands_, {})) {
        onPageMessage(std::move(message));
        if (token.expired())
            return;
    }
}

void AppDelegate::installActions()
{
    auto token = lifetime_.token();
    struct Entry {
        const char* name;
        void (*activate)(AppDelegate&);
    };
    static const Entry applicationActions[] = {
        { "about", [](AppDelegate& self) { self.showAbout(); } },
        { "check-updates", [](AppDelegate& self) { self.checkUpdates(); } },
        { "settings", [](AppDelegate& self) { self.showSettings(); } },
        { "hide", [](AppDelegate& self) { gtk_window_minimize(self.window_->window()); } },
        { "quit", [](AppDelegate& self) { self.requestQuit(); } },
        { "open-dot", [](AppDelegate& self) { self.openDot(); } },
    };
    static const Entry windowActions[] = {
        { "minimize", [](AppDelegate& self) { gtk_window_minimize(self.window_->window()); } },
        { "undo", [](AppDelegate& self) { webkit_web_view_execute_editing_command(self.webView(), "Undo"); } },
        { "redo", [](AppDelegate& self) { webkit_web_view_execute_editing_command(self.webView(), "Redo"); } },
        { "cut",
            [](AppDelegate& self) {
                webkit_web_view_execute_editing_command(self.webView(), WEBKIT_EDITING_COMMAND_CUT);
            } },
        { "copy",
            [](AppDelegate& self) {
                webkit_web_view_execute_editing_command(self.webView(), WEBKIT_EDITING_COMMAND_COPY);
            } },
        { "paste",
            [](AppDelegate& self) {
                webkit_web_view_execute_editing_command(self.webView(), WEBKIT_EDITING_COMMAND_PASTE);
            } },
        { "select-all",
            [](AppDelegate& self) {
                webkit_web_view_execute_editing_command(self.webView(), WEBKIT_EDITING_COMMAND_SELECT_ALL);
            } },
    };
    struct Target {
        Lifetime::Token token;
        AppDelegate* self;
        void (*activate)(AppDelegate&);
    };
    using Activate = void (*)(GSimpleAction*, GVariant*, gpointer);
    Activate onActivate = [](GSimpleAction*, GVariant*, gpointer data) {
        auto* target = static_cast<Target*>(data);
        if (!target->token.expired() && target->self->window_)
            target->activate(*target->self);
    };
    auto add = [&](GActionMap* map, const Entry& entry) -> GSimpleAction* {
        GSimpleAction* action = g_simple_action_new(entry.name, nullptr);
        g_signal_connect_data(
            action, "activate", G_CALLBACK(onActivate), new Target { token, this, entry.activate },
            [](gpointer data, GClosure*) { delete static_cast<Target*>(data); }, GConnectFlags(0));
        g_action_map_add_action(map, G_ACTION(action));
        g_object_unref(action);
        return action;
    };
    for (const auto& entry : applicationActions) {
        GSimpleAction* action = add(G_ACTION_MAP(application_), entry);
        if (std::string_view(entry.name) == "check-updates")
            updateMenuItem_ = action;
    }
    for (const auto& entry : windowActions)
        add(G_ACTION_MAP(window_->window()), entry);

    // What a reply's notification activates, with its conversation as the target.
    GSimpleAction* show = g_simple_action_new("show-conversation", G_VARIANT_TYPE("(ss)"));
    using ActivateWith = void (*)(GSimpleAction*, GVariant*, gpointer);
    ActivateWith onShow = [](GSimpleAction*, GVariant* target, gpointer data) {
        auto* self = WeakOwner<AppDelegate>::from(data);
        if (!self || !target || !g_variant_is_of_type(target, G_VARIANT_TYPE("(ss)")))
            return;
        const char* accountID = nullptr;
        const char* botID = nullptr;
        g_variant_get(target, "(&s&s)", &accountID, &botID);
        self->showConversation(accountID, botID);
    };
    connectWeakOwner(show, "activate", G_CALLBACK(onShow), lifetime_, this);
    g_action_map_add_action(G_ACTION_MAP(application_), G_ACTION(show));
    g_object_unref(show);
    // Enabled exactly when the update state says configured && canCheck (set on every update
    // publication).
    g_simple_action_set_enabled(updateMenuItem_, FALSE);
    const auto& update = appUpdater_.currentState();
    g_simple_action_set_enabled(updateMenuItem_, update.configured && update.canCheck);
}

void AppDelegate::reopen()
{
    if (window_)
        window_->present();
}

// ---- Menu actions ----------------------------------------------------------------------------

void AppDelegate::checkUpdates() { appUpdater_.checkForUpdates(); }

void AppDelegate::showSettings()
{
    if (!window_)
        return;
    window_->present();
    PageArguments none;
    callInPage(view_->webView(), "window.showSettings?.()", none);
}

void AppDelegate::openDot()
{
    if (!controller_)
        return;
    if (controller_->vault().account().connectedOnce)
        controller_->showDot();
    else
        controller_->connect();
}

void AppDelegate::showConversation(const std::string& accountID, const std::string& botID)
{
    if (!window_ || !controller_)
        return;
    window_->present();
    try {
        if (controller_->vault().account().id != accountID)
            controller_->switchAccount(accountID);
        // A switch asked for during a turn is made when the turn ends; the window then shows
        // that account's selected conversation, which is as near as it can come now.
        if (controller_->vault().account().id != accountID)
            return;
        boost::json::object data;
        data["id"] = botID;
        controller_->perform("select", data);
    } catch (const std::exception& error) {
        // Requests in flight, an archived bot, storage that cannot save: the window is in front
        // and shows why where it applies.
        g_message("The conversation of the notification could not be shown: %s", error.what());
    }
}

bool AppDelegate::checkUpdatesEnabled() const
{
    return updateMenuItem_ && g_action_get_enabled(G_ACTION(updateMenuItem_));
}

void AppDelegate::showAbout()
{
    AppBundle bundle = AppBundle::load(options_.dataDirectory);
    std::string version(bundle.string("CFBundleShortVersionString").value_or(""));
    GtkWidget* about = adw_about_window_new();
    adw_about_window_set_application_name(ADW_ABOUT_WINDOW(about), "Quorvane");
    adw_about_window_set_application_icon(ADW_ABOUT_WINDOW(about), AppIconPublisher::kIconName);
    adw_about_window_set_version(ADW_ABOUT_WINDOW(about), version.c_str());
    adw_about_window_set_comments(
        ADW_ABOUT_WINDOW(about), "Talk to a crew of persona bots that all live in one Dot conversation.");
    gtk_window_set_transient_for(GTK_WINDOW(about), window_->window());
    gtk_window_set_modal(GTK_WINDOW(about), TRUE);
    gtk_window_present(GTK_WINDOW(about));
}

// ---- The bridge -------------------------------------------------------------------------------

void AppDelegate::onPageMessage(PageMessage message)
{
    const std::uint64_t document = document_;
    if (message.command == "ready") {
        pageReady();
        reply(message.id, std::nullopt, document);
        return;
    }
    if (message.command == "checkUpdates") {
        appUpdater_.checkForUpdates();
        reply(message.id, std::nullopt, document);
        return;
    }
    if (message.command == "automaticUpdates") {
        if (const auto* enabled = message.data.if_contains("enabled"); enabled && enabled->is_bool()) {
            if (appUpdater_.currentState().configured) {
                settings_.setAutomaticUpdateChecks(enabled->get_bool());
                appUpdater_.setAutomaticallyChecksForUpdates(enabled->get_bool());
            }
            reply(message.id, std::nullopt, document);
            return;
        }
        // Without a boolean "enabled" it is a command like any other.
    }
    if (message.command == "replyNotifications") {
        if (const auto* enabled = message.data.if_contains("enabled"); enabled && enabled->is_bool()) {
            settings_.setReplyNotifications(enabled->get_bool());
            sendDesktopSettings();
            reply(message.id, std::nullopt, document);
            return;
        }
    }
    if (message.command == "windowModal") {
        const auto* open = message.data.if_contains("open");
        bool modal = open && open->is_bool() && open->get_bool();
        window_->setDragRegionVisible(!modal);
        reply(message.id, std::nullopt, document);
        return;
    }
    if (!controller_) {
        // The vault is still opening; the page hears back once it has been carried out.
        waitingCommands_.push_back(std::move(message));
        return;
    }
    auto token = lifetime_.token();
    std::optional<std::string> error;
    try {
        ++commandsDispatched_;
        controller_->perform(message.command, message.data);
    } catch (const AppFailure& failure) {
        error = failure.message;
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (token.expired())
        return;
    reply(message.id, error, document);
}

void AppDelegate::reply(const std::string& id, const std::optional<std::string>& error, std::uint64_t document)
{
    if (document != document_ || !view_)
        return;  // the document that asked is gone
    if (driver_)
        driver_->replied(id, error);
    // WebKit takes strings and numbers as arguments, not booleans or null, so the error goes
    // as JSON text: "null" or the quoted sentence.
    PageArguments arguments;
    arguments.add("id", id).add(
        "error", error ? boost::json::serialize(boost::json::value(*error)) : std::string("null"));
    callInPage(view_->webView(), "window.nativeResult(id, JSON.parse(error))", arguments, [](PageCallResult result) {
        if (result.failed())
            g_warning("nativeResult failed: %s", result.error.c_str());
    });
}

void AppDelegate::onLoadChanged(WebKitLoadEvent event)
{
    if (event == WEBKIT_LOAD_STARTED) {
        // A new document: nothing is sent until it is ready, and then it gets everything.
        ++document_;
        ready_ = false;
        transport_.reset();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        pageReady();
    }
}

void AppDelegate::onWebProcessTerminated()
{
    ++document_;
    ready_ = false;
    transport_.reset();
    // The page's process ended (it crashed, or ran out of memory): load the page again, unless
    // that keeps happening, which would only loop.
    double now = GLibScheduler::shared().now();
    if (now - lastCrashReload_ < 10) {
        g_warning("The interface page stopped again; it is not reloaded.");
        return;
    }
    lastCrashReload_ = now;
    view_->load();
}

void AppDelegate::pageReady()
{
    ready_ = true;
    sendSnapshot();
    publishUpdate(appUpdater_.currentState());
    sendDesktopSettings();
}

void AppDelegate::sendSnapshot()
{
    if (!controller_)
        return;
    ClientState state = controller_->snapshot();
    controller_->lastState = state;
    if (controller_->onChange)
        controller_->onChange(state);
}

// ---- Publishing --------------------------------------------------------------------------------

void AppDelegate::publish(const ClientState& state)
{
    if (!ready_)
        return;
    double started = GLibScheduler::shared().now();
    latest_ = state;
    icon_.apply(state);
    applyAppearance(state);
    send(state, started);
}

void AppDelegate::send(const ClientState& state, double started)
{
    const std::uint64_t document = document_;
    auto token = lifetime_.token();
    auto timing = std::make_shared<PublicationTiming>();
    auto deliver = [&](std::string text, bool last) {
        PageArguments arguments;
        arguments.adopt("publication", std::move(text));
        callInPage(view_->webView(), "return window.quorvaneStateTransport.apply(publication)", arguments,
            [this, token, timing, started, document, last](PageCallResult result) {
                if (token.expired() || document != document_)
                    return;
                partAnswered(std::move(result), *timing, started, last);
            });
    };
    double encodeStarted = GLibScheduler::shared().now();
    try {
        StateTransport::Publication publication = transport_.publish(state, deliver);
        *timing = PublicationTiming { publication.sequence, publication.complete, publication.bytes,
            GLibScheduler::shared().now() - encodeStarted, 0, 0 };
        lastSent_ = publication.sequence;
    } catch (const std::exception& error) {
        // Parts already sent are superseded by the next complete publication.
        g_warning("The state could not be encoded: %s", error.what());
        transport_.reset();
        return;
    }
    timing->mainThreadSeconds = GLibScheduler::shared().now() - started;
}

void AppDelegate::partAnswered(PageCallResult result, const PublicationTiming& timing, double started, bool last)
{
    bool accepted = false;
    if (!result.failed() && result.value && jsc_value_is_object(result.value.get())) {
        auto value = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(result.value.get(), "accepted"));
        accepted = value && jsc_value_to_boolean(value.get());
        auto pageError = GObjectPtr<JSCValue>::adopt(jsc_value_object_get_property(result.value.get(), "error"));
        if (pageError && jsc_value_is_string(pageError.get())) {
            GCharPtr text(jsc_value_to_string(pageError.get()));
            g_warning("The interface page failed to take the state: %s", text.get());
        }
    }
    if (accepted) {
        if (!last)
            return;
        if (timing.complete)
            releaseFreeMemory();
        if (onPublished) {
            PublicationTiming received = timing;
            received.untilReceivedSeconds = GLibScheduler::shared().now() - started;
            onPublished(received);
        }
        return;
    }
    // The page holds another base than the one this change was made against (or the call
    // failed): the newest publication is the one that counts; when it was this one, send the
    // newest state whole. A later publication that builds on this one is refused in turn and
    // lands here; so do the later parts of a complete one.
    transport_.reset();
    if (timing.sequence == lastSent_ && ready_ && latest_)
        send(*latest_, GLibScheduler::shared().now());
}

void AppDelegate::applyAppearance(const ClientState& state)
{
    applyTheme(state.theme, state.systemDark);
    settings_.setStartTheme(std::string(toString(state.theme)));
}

void AppDelegate::applyTheme(Theme theme, bool systemDark)
{
    bool dark = theme == Theme::dark || (theme == Theme::system && systemDark);
    adw_style_manager_set_color_scheme(
        adw_style_manager_get_default(), dark ? ADW_COLOR_SCHEME_FORCE_DARK : ADW_COLOR_SCHEME_FORCE_LIGHT);
}

void AppDelegate::publishUpdate(const AppUpdateState& update)
{
    if (updateMenuItem_)
        g_simple_action_set_enabled(updateMenuItem_, update.configured && update.canCheck);
    if (ready_)
        sendUpdate(update);
}

void AppDelegate::sendUpdate(const AppUpdateState& update)
{
    std::string text;
    try {
        text = boost::json::serialize(boost::json::value_from(update));
    } catch (const std::exception& error) {
        g_warning("The update state could not be encoded: %s", error.what());
        return;
    }
    PageArguments arguments;
    arguments.add("update", text);
    callInPage(view_->webView(), "window.receiveUpdateState(JSON.parse(update))", arguments);
}

// The settings the shell keeps (ShellSettings) that the page's Settings show.
void AppDelegate::sendDesktopSettings()
{
    if (!ready_ || !view_)
        return;
    boost::json::object settings;
    settings["replyNotifications"] = settings_.replyNotifications();
    PageArguments arguments;
    arguments.add("settings", boost::json::serialize(settings));
    callInPage(view_->webView(), "window.receiveDesktopSettings?.(JSON.parse(settings))", arguments);
}

// ---- File choosing ------------------------------------------------------------------------------

void AppDelegate::chooseFile(WebKitFileChooserRequest* request)
{
    struct Choice {
        GObjectPtr<WebKitFileChooserRequest> request;
    };
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        "Choose an Avatar", window_ ? window_->window() : nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(dialog), FALSE);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Images (PNG, JPEG, WebP)");
    for (const char* type : { "image/png", "image/jpeg", "image/webp" })
        gtk_file_filter_add_mime_type(filter, type);
    for (const char* pattern : { "*.png", "*.jpg", "*.jpeg", "*.webp" })
        gtk_file_filter_add_suffix(filter, pattern + 2);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(dialog), filter);
    g_object_unref(filter);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    using Response = void (*)(GtkNativeDialog*, int, gpointer);
    Response onResponse = [](GtkNativeDialog* dialog, int response, gpointer data) {
        auto* choice = static_cast<Choice*>(data);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GObjectPtr<GFile> file;
        if (response == GTK_RESPONSE_ACCEPT)
            file = GObjectPtr<GFile>::adopt(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog)));
        G_GNUC_END_IGNORE_DEPRECATIONS
        GCharPtr path(file ? g_file_get_path(file.get()) : nullptr);
        if (path) {
            const char* files[] = { path.get(), nullptr };
            webkit_file_chooser_request_select_files(choice->request.get(), files);
        } else {
            webkit_file_chooser_request_cancel(choice->request.get());
        }
        // The dialog held itself for its answer; this lets it go.
        GObjectPtr<GtkNativeDialog>::adopt(dialog);
    };
    g_signal_connect_data(
        dialog, "response", G_CALLBACK(onResponse),
        new Choice { GObjectPtr<WebKitFileChooserRequest>::retain(request) },
        [](gpointer data, GClosure*) { delete static_cast<Choice*>(data); }, GConnectFlags(0));
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

// ---- Quitting ------------------------------------------------------------------------------------

void AppDelegate::requestQuit()
{
    if (quitting_) {
        if (alert_)
            gtk_window_present(GTK_WINDOW(alert_));
        return;
    }
    if (!ready_ || !view_) {
        terminate();
        return;
    }
    quitting_ = true;
    flushPending_ = true;
    auto token = lifetime_.token();
    flushTimeout_ = GLibScheduler::shared().schedule(
        kFlushDraftTimeout, weakCallback(token, [this] { flushDraftFinished(false); }));
    PageArguments none;
    callInPage(view_->webView(), "return await window.flushDraft?.()", none,
        weakCallback(token, [this](PageCallResult result) { flushDraftFinished(!result.failed()); }));
}

void AppDelegate::flushDraftFinished(bool saved)
{
    if (!flushPending_)
        return;  // already answered: the time-out and the page both report
    flushPending_ = false;
    if (saved)
        terminate();
    else
        showDraftAlert();
}

void AppDelegate::showDraftAlert()
{
    window_->present();
    GtkWidget* alert = adw_message_dialog_new(window_->window(), kDraftAlertHeading, kDraftAlertBody);
    adw_message_dialog_add_responses(ADW_MESSAGE_DIALOG(alert), "keep", kKeepOpen, "quit", kQuitAnyway, nullptr);
    adw_message_dialog_set_response_appearance(ADW_MESSAGE_DIALOG(alert), "quit", ADW_RESPONSE_DESTRUCTIVE);
    adw_message_dialog_set_default_response(ADW_MESSAGE_DIALOG(alert), "keep");
    adw_message_dialog_set_close_response(ADW_MESSAGE_DIALOG(alert), "keep");
    alert_ = alert;
    using Response = void (*)(AdwMessageDialog*, const char*, gpointer);
    Response onResponse = [](AdwMessageDialog*, const char* response, gpointer data) {
        auto* self = WeakOwner<AppDelegate>::from(data);
        if (!self)
            return;
        self->alert_ = nullptr;  // the dialog closes itself after a response
        self->quitting_ = false;
        if (g_strcmp0(response, "quit") == 0)
            self->terminate();
    };
    connectWeakOwner(alert, "response", G_CALLBACK(onResponse), lifetime_, this);
    gtk_window_present(GTK_WINDOW(alert));
}

void AppDelegate::terminate()
{
    if (terminated_)
        return;
    terminated_ = true;
    g_application_quit(G_APPLICATION(application_));
}

void AppDelegate::willTerminate()
{
    if (window_)
        window_->saveState();
    if (controller_)
        controller_->stop();
}

}  // namespace quorvane
