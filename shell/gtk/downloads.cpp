#include "shell/gtk/downloads.h"

#include <algorithm>

namespace quorvel::gtk {

std::string DownloadFolder() {
    const std::string home = g_get_home_dir();
    const gchar* configured = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    const TGCharPtr canonical{configured != nullptr ? g_canonicalize_filename(configured, nullptr) : nullptr};
    const TGCharPtr canonicalHome{g_canonicalize_filename(home.c_str(), nullptr)};
    const bool usable = canonical && g_strcmp0(canonical.get(), canonicalHome.get()) != 0;
    std::string folder = usable ? std::string(canonical.get()) : home + "/Downloads";
    // A folder that cannot be made leaves the dialog where GTK puts it.
    g_mkdir_with_parents(folder.c_str(), 0755);
    return folder;
}

std::string SafeFileName(const std::string& suggested) {
    std::string name(TGCharPtr{g_path_get_basename(suggested.c_str())}.get());
    for (char& c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    const auto first = name.find_first_not_of(". ");
    name = first == std::string::npos ? std::string() : name.substr(first);
    return name.empty() ? std::string("download") : name;
}

class TDownloads::TDownload {
public:
    TDownload(TDownloads& owner, WebKitDownload* download);
    ~TDownload();
    TDownload(const TDownload&) = delete;
    TDownload& operator=(const TDownload&) = delete;

    bool Done() const { return FDone; }

private:
    static gboolean OnDecideDestination(WebKitDownload* download, gchar* suggested, gpointer self);
    static void OnChosen(GtkDialog* dialog, gint response, gpointer self);
    static void OnFailed(WebKitDownload* download, GError* error, gpointer self);
    static void OnFinished(WebKitDownload* download, gpointer self);
    GtkWindow* Parent() const;
    void DropChooser();
    void Finish();

    TDownloads& FOwner;
    TGObjectPtr<WebKitDownload> FDownload;
    std::string FName;
    bool FDone = false;
    TToplevelPtr FChooser;
    TSignalConnection FChosen;
    TSignalConnection FDecideDestination;
    TSignalConnection FFailed;
    TSignalConnection FFinished;
};

TDownloads::TDownload::TDownload(TDownloads& owner, WebKitDownload* download)
    : FOwner(owner), FDownload(WEBKIT_DOWNLOAD(g_object_ref(download))) {
    FDecideDestination = TSignalConnection(
        download, g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), this));
    FFailed = TSignalConnection(download, g_signal_connect(download, "failed", G_CALLBACK(OnFailed), this));
    FFinished = TSignalConnection(download, g_signal_connect(download, "finished", G_CALLBACK(OnFinished), this));
}

TDownloads::TDownload::~TDownload() {
    const bool running = !FDone;
    Finish();
    // Ending with a download under way: WebKit removes what it had written.
    if (running) webkit_download_cancel(FDownload.get());
}

GtkWindow* TDownloads::TDownload::Parent() const {
    WebKitWebView* view = webkit_download_get_web_view(FDownload.get());
    // A view that has shown no page (a new window for an attachment) is
    // about to go: the dialog sits on the main window instead.
    WebKitBackForwardList* history = view != nullptr ? webkit_web_view_get_back_forward_list(view) : nullptr;
    const bool shown = history != nullptr && webkit_back_forward_list_get_current_item(history) != nullptr;
    GtkWidget* toplevel = shown ? gtk_widget_get_toplevel(GTK_WIDGET(view)) : nullptr;
    if (toplevel != nullptr && gtk_widget_is_toplevel(toplevel) && gtk_widget_get_visible(toplevel)) {
        return GTK_WINDOW(toplevel);
    }
    return FOwner.FFallbackParent ? FOwner.FFallbackParent() : nullptr;
}

gboolean TDownloads::TDownload::OnDecideDestination(WebKitDownload*, gchar* suggested, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    download->DropChooser();
    download->FChooser.reset(gtk_file_chooser_dialog_new("Save File", download->Parent(),
                                                         GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                                         GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr));
    GtkWidget* chooser = download->FChooser.get();
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), DownloadFolder().c_str());
    const std::string name = SafeFileName(suggested != nullptr ? suggested : "");
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), name.c_str());
    download->FChosen = TSignalConnection(chooser, g_signal_connect(chooser, "response", G_CALLBACK(OnChosen), self));
    gtk_window_present(GTK_WINDOW(chooser));
    // WebKit waits for the destination, or for the cancel.
    return TRUE;
}

void TDownloads::TDownload::OnChosen(GtkDialog* dialog, gint response, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    const TGCharPtr path{response == GTK_RESPONSE_ACCEPT ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))
                                                         : nullptr};
    download->DropChooser();
    if (!path) {
        webkit_download_cancel(download->FDownload.get());
        return;
    }
    download->FName = path.get();
    GError* error = nullptr;
    const TGCharPtr uri{g_filename_to_uri(path.get(), nullptr, &error)};
    if (!uri) {
        webkit_download_cancel(download->FDownload.get());
        download->FOwner.Failed(download->Parent(), download->FName, error->message);
        g_error_free(error);
        return;
    }
    // The dialog has asked before replacing a file.
    webkit_download_set_allow_overwrite(download->FDownload.get(), TRUE);
    webkit_download_set_destination(download->FDownload.get(), uri.get());
}

void TDownloads::TDownload::OnFailed(WebKitDownload*, GError* error, gpointer self) {
    auto* download = static_cast<TDownload*>(self);
    if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) return;
    download->FOwner.Failed(download->Parent(), download->FName, error->message);
}

void TDownloads::TDownload::OnFinished(WebKitDownload*, gpointer self) { static_cast<TDownload*>(self)->Finish(); }

void TDownloads::TDownload::DropChooser() {
    FChosen.Disconnect();
    FChooser.reset();
}

void TDownloads::TDownload::Finish() {
    FDone = true;
    DropChooser();
    FFinished.Disconnect();
    FFailed.Disconnect();
    FDecideDestination.Disconnect();
}

TDownloads::TDownloads(WebKitWebContext* context, std::function<bool(const std::string&)> allow,
                       std::function<GtkWindow*()> fallbackParent, std::function<void(WebKitWebView*)> startedIn)
    : FAllow(std::move(allow)), FFallbackParent(std::move(fallbackParent)), FStartedIn(std::move(startedIn)) {
    FStarted = TSignalConnection(context, g_signal_connect(context, "download-started", G_CALLBACK(OnStarted), this));
}

TDownloads::~TDownloads() {
    FStarted.Disconnect();
    FDownloads.clear();
}

void TDownloads::OnStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    auto* downloads = static_cast<TDownloads*>(self);
    // Finished ones go here, outside their own signals.
    auto& list = downloads->FDownloads;
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& d) { return d->Done(); }), list.end());
    const gchar* uri = webkit_uri_request_get_uri(webkit_download_get_request(download));
    if (!downloads->FAllow(uri != nullptr ? uri : "")) {
        webkit_download_cancel(download);
        return;
    }
    list.push_back(std::make_unique<TDownload>(*downloads, download));
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (view != nullptr && downloads->FStartedIn) downloads->FStartedIn(view);
}

void TDownloads::Failed(GtkWindow* parent, const std::string& name, const std::string& reason) {
    const TGCharPtr base{g_path_get_basename(name.empty() ? "the file" : name.c_str())};
    FNotice.Show(parent, "Download failed", std::string("The download of \"") + base.get() + "\" failed.", reason);
}

}  // namespace quorvel::gtk
