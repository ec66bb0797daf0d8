#include <memory>
#include <utility>

#include "quorvane/holders/GLibHolders.hpp"
#include "quorvane/holders/GObjectPtr.hpp"
#include "quorvane/shell/PlatformServices.hpp"

namespace quorvane {

namespace {

// One offer from the dialog to the end of the write.
struct PendingSave {
    std::string suggestedName;
    std::string bytes;
    std::function<void(FileOfferOutcome)> done;
};

std::string displayNameOf(GFile* file)
{
    GCharPtr name(g_file_get_basename(file));
    return name ? std::string(name.get()) : std::string("the file");
}

void written(GObject* source, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<PendingSave> save(static_cast<PendingSave*>(data));
    GErrorHolder error;
    if (g_file_replace_contents_finish(G_FILE(source), result, nullptr, error.out())) {
        save->done(FileOfferOutcome { .saved = true });
        return;
    }
    save->done(FileOfferOutcome { .failure = DesktopFileSaver::failureSentence(
                                      displayNameOf(G_FILE(source)), error ? error.get()->message : "unknown error") });
}

void answered(GtkNativeDialog* dialog, int response, gpointer data)
{
    std::unique_ptr<PendingSave> save(static_cast<PendingSave*>(data));
    // The dialog held itself for its answer; this lets it go when the handler returns.
    auto owned = GObjectPtr<GtkNativeDialog>::adopt(dialog);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GObjectPtr<GFile> file;
    if (response == GTK_RESPONSE_ACCEPT)
        file = GObjectPtr<GFile>::adopt(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(dialog)));
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!file) {
        save->done(FileOfferOutcome {});
        return;
    }
    GBytes* bytes = g_bytes_new(save->bytes.data(), save->bytes.size());
    save->bytes.clear();
    save->bytes.shrink_to_fit();
    g_file_replace_contents_bytes_async(
        file.get(), bytes, nullptr, FALSE, G_FILE_CREATE_REPLACE_DESTINATION, nullptr, written, save.release());
    g_bytes_unref(bytes);
}

}  // namespace

DesktopFileSaver::DesktopFileSaver(std::function<GtkWindow*()> parent)
    : parent_(std::move(parent))
{
}

std::string DesktopFileSaver::failureSentence(const std::string& fileName, const std::string& reason)
{
    std::string sentence = "Quorvane couldn\u2019t save \u201c" + fileName + "\u201d: " + reason;
    if (!sentence.ends_with('.'))
        sentence += '.';
    return sentence;
}

void DesktopFileSaver::offer(FileOffer offer, std::function<void(FileOfferOutcome)> done)
{
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkFileChooserNative* dialog = gtk_file_chooser_native_new(
        offer.title.c_str(), parent_ ? parent_() : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE, "_Save", "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_current_name(chooser, offer.suggestedName.c_str());
    if (const char* documents = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
        documents && g_file_test(documents, G_FILE_TEST_IS_DIR)) {
        auto folder = GObjectPtr<GFile>::adopt(g_file_new_for_path(documents));
        gtk_file_chooser_set_current_folder(chooser, folder.get(), nullptr);
    }
    if (!offer.mimeType.empty()) {
        GtkFileFilter* filter = gtk_file_filter_new();
        const bool json = offer.mimeType == "application/json";
        gtk_file_filter_set_name(filter, json ? "JSON" : "Markdown");
        gtk_file_filter_add_mime_type(filter, offer.mimeType.c_str());
        // A system without the type in its MIME database still matches by name.
        if (auto dot = offer.suggestedName.rfind('.'); dot != std::string::npos)
            gtk_file_filter_add_suffix(filter, offer.suggestedName.c_str() + dot + 1);
        gtk_file_chooser_add_filter(chooser, filter);
        gtk_file_chooser_set_filter(chooser, filter);
        g_object_unref(filter);
    }
    if (!offer.notice.empty()) {
        // A choice with one option reads as a label beside a fixed value: the notice stays in
        // view next to the file name instead of being a setting the user could untick.
        const char* ids[] = { "plain", nullptr };
        const char* labels[] = { "Plain text file", nullptr };
        gtk_file_chooser_add_choice(chooser, "notice", offer.notice.c_str(), ids, labels);
        gtk_file_chooser_set_choice(chooser, "notice", "plain");
    }
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(dialog), TRUE);
    auto* save = new PendingSave { std::move(offer.suggestedName), std::move(offer.bytes), std::move(done) };
    g_signal_connect(dialog, "response", G_CALLBACK(answered), save);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
}

}  // namespace quorvane
