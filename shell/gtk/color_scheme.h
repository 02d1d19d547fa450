// The desktop's light or dark preference, which GTK 3 does not read: the
// settings portal's org.freedesktop.appearance color-scheme, read at start
// with a short bound and followed while the program runs. WebKit takes it
// from GTK's own preference for dark themes and tells the pages
// (prefers-color-scheme).
#pragma once

#include <gio/gio.h>

#include "shell/gtk/glib_ptr.h"

namespace quorvel::gtk {

class TColorScheme {
public:
    TColorScheme();
    ~TColorScheme();
    TColorScheme(const TColorScheme&) = delete;
    TColorScheme& operator=(const TColorScheme&) = delete;

private:
    static void OnSettingChanged(GDBusConnection* bus, const gchar* sender, const gchar* path, const gchar* interface,
                                 const gchar* signal, GVariant* parameters, gpointer self);
    // The portal's value: 0 no preference, 1 dark, 2 light.
    void Apply(GVariant* value);

    TGObjectPtr<GDBusConnection> FBus;
    guint FSubscription = 0;
    gboolean FGtkPreference = FALSE;  // GTK's own, for "no preference"
};

}  // namespace quorvel::gtk
