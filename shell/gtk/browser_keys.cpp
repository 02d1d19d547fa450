#include "shell/gtk/browser_keys.h"

#include <algorithm>
#include <cmath>

namespace quorvel::gtk {
namespace {

using TCommand = TBrowserKeys::TCommand;

TCommand CommandFor(guint keyval, guint modifiers) {
    const bool plain = modifiers == 0;
    const bool ctrl = modifiers == GDK_CONTROL_MASK;
    const bool ctrlShift = modifiers == (GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    const bool alt = modifiers == GDK_MOD1_MASK;
    switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_F5:
        if (plain) return TCommand::Reload;
        if (modifiers == GDK_SHIFT_MASK) return TCommand::ReloadPastCache;
        break;
    case GDK_KEY_r:
        if (ctrl) return TCommand::Reload;
        if (ctrlShift) return TCommand::ReloadPastCache;
        break;
    case GDK_KEY_Reload:
    case GDK_KEY_Refresh:
        if (plain) return TCommand::Reload;
        break;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        if (alt) return TCommand::Back;
        break;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        if (alt) return TCommand::Forward;
        break;
    case GDK_KEY_Back:
        if (plain) return TCommand::Back;
        break;
    case GDK_KEY_Forward:
        if (plain) return TCommand::Forward;
        break;
    case GDK_KEY_p:
        if (ctrl) return TCommand::Print;
        break;
    case GDK_KEY_f:
        if (ctrl) return TCommand::Find;
        break;
    // Plus is a shifted key on most layouts; Ctrl+= is zoom in as well.
    case GDK_KEY_plus:
    case GDK_KEY_equal:
    case GDK_KEY_KP_Add:
        if (ctrl || ctrlShift) return TCommand::ZoomIn;
        break;
    case GDK_KEY_minus:
    case GDK_KEY_underscore:
    case GDK_KEY_KP_Subtract:
        if (ctrl || ctrlShift) return TCommand::ZoomOut;
        break;
    case GDK_KEY_0:
    case GDK_KEY_KP_0:
        if (ctrl) return TCommand::ZoomNormal;
        break;
    case GDK_KEY_Escape:
        if (plain) return TCommand::Escape;
        break;
    default:
        break;
    }
    return TCommand::None;
}

TCommand BrowserCommand(const GdkEventKey& event) {
    const guint modifiers = event.state & gtk_accelerator_get_default_mod_mask();
    TCommand command = CommandFor(event.keyval, modifiers);
    if (command == TCommand::None && event.group != 0) {
        // On a layout without Latin letters, Ctrl+F is the key where F sits
        // on the first layout, as browsers take it.
        guint latin = 0;
        if (gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_display_get_default()),
                                                event.hardware_keycode, static_cast<GdkModifierType>(event.state),
                                                0, &latin, nullptr, nullptr, nullptr)) {
            command = CommandFor(latin, modifiers);
        }
    }
    return command;
}

}  // namespace

TBrowserKeys::TBrowserKeys(GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay, const TZoomLevel& zoom)
    : FView(view), FZoom(zoom), FFindBar(view, overlay), FPrint(window, view) {
    webkit_web_view_set_zoom_level(FView, FZoom.Load());
    // The overlay sees a key after the page (WebKit hands back what the page
    // did not take) and whatever the find bar's entry leaves.
    FSignals.Connect(overlay, "key-press-event", OnKeyPress, this);
    FSignals.Connect(view, "key-press-event", OnViewKeyPress, this);
    // Before the page: WebKit scrolls a long page on Ctrl+wheel and counts the
    // wheel as taken.
    FSignals.Connect(view, "scroll-event", OnScroll, this);
}

TBrowserKeys::~TBrowserKeys() = default;

bool TBrowserKeys::Run(TCommand command) {
    switch (command) {
    case TCommand::None:
        return false;
    case TCommand::Reload:
        webkit_web_view_reload(FView);
        break;
    case TCommand::ReloadPastCache:
        webkit_web_view_reload_bypass_cache(FView);
        break;
    case TCommand::Back:
        if (webkit_web_view_can_go_back(FView)) webkit_web_view_go_back(FView);
        break;
    case TCommand::Forward:
        if (webkit_web_view_can_go_forward(FView)) webkit_web_view_go_forward(FView);
        break;
    case TCommand::Print:
        FPrint.Open();
        break;
    case TCommand::Find:
        FFindBar.Open();
        break;
    case TCommand::ZoomIn:
        SetZoom(ZoomInStep(webkit_web_view_get_zoom_level(FView)));
        break;
    case TCommand::ZoomOut:
        SetZoom(ZoomOutStep(webkit_web_view_get_zoom_level(FView)));
        break;
    case TCommand::ZoomNormal:
        SetZoom(kZoomNormal);
        break;
    case TCommand::Escape:
        if (!FFindBar.IsOpen()) return false;
        FFindBar.Close();
        break;
    }
    return true;
}

void TBrowserKeys::SetZoom(double level) {
    if (std::abs(level - webkit_web_view_get_zoom_level(FView)) < 1e-6) return;
    webkit_web_view_set_zoom_level(FView, level);
    FZoom.Save(level);
}

gboolean TBrowserKeys::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    return static_cast<TBrowserKeys*>(self)->Run(BrowserCommand(*event)) ? TRUE : FALSE;
}

gboolean TBrowserKeys::OnViewKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    const TCommand command = BrowserCommand(*event);
    if (command != TCommand::Back && command != TCommand::Forward) return FALSE;
    return static_cast<TBrowserKeys*>(self)->Run(command) ? TRUE : FALSE;
}

gboolean TBrowserKeys::OnScroll(GtkWidget*, GdkEventScroll* event, gpointer self) {
    if ((event->state & gtk_accelerator_get_default_mod_mask()) != GDK_CONTROL_MASK) return FALSE;
    auto* keys = static_cast<TBrowserKeys*>(self);
    double delta = 0;
    if (event->direction == GDK_SCROLL_UP) delta = -1;
    if (event->direction == GDK_SCROLL_DOWN) delta = 1;
    if (event->direction == GDK_SCROLL_SMOOTH) delta = event->delta_y;
    if (!std::isfinite(delta)) return TRUE;
    // No device turns a wheel by more in one event; a larger figure is noise.
    delta = std::clamp(delta, -10.0, 10.0);
    // A touchpad turns in small steps: they add up to whole ones, and a turn
    // the other way starts over.
    if (keys->FWheel * delta < 0) keys->FWheel = 0;
    keys->FWheel += delta;
    while (keys->FWheel <= -1) {
        keys->FWheel += 1;
        keys->SetZoom(ZoomInStep(webkit_web_view_get_zoom_level(keys->FView)));
    }
    while (keys->FWheel >= 1) {
        keys->FWheel -= 1;
        keys->SetZoom(ZoomOutStep(webkit_web_view_get_zoom_level(keys->FView)));
    }
    return TRUE;
}

}  // namespace quorvel::gtk
