#include "shell/gtk/color_scheme.h"

#include <gtk/gtk.h>

namespace quorvel::gtk {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettings = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";
// A running portal answers in a few milliseconds; a missing one at once.
constexpr int kReadBoundMs = 250;

// The setting's value, or null. Portals before version 2 know only Read,
// which wraps the value once more.
GVariant* ReadColorScheme(GDBusConnection* bus) {
    for (const char* method : {"ReadOne", "Read"}) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus, kPortal, kPortalPath, kSettings, method,
                                                      g_variant_new("(ss)", kAppearance, kColorScheme), nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, kReadBoundMs, nullptr, &error);
        const bool unknownMethod = error != nullptr && g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
        if (error != nullptr) g_error_free(error);
        if (reply == nullptr) {
            if (unknownMethod) continue;
            return nullptr;
        }
        GVariant* value = nullptr;
        g_variant_get(reply, "(v)", &value);
        g_variant_unref(reply);
        while (value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
            GVariant* inner = g_variant_get_variant(value);
            g_variant_unref(value);
            value = inner;
        }
        return value;
    }
    return nullptr;
}

}  // namespace

TColorScheme::TColorScheme() {
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &FGtkPreference, nullptr);
    FBus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!FBus) return;
    // Subscribed first, so that no change falls between the read and it.
    FSubscription = g_dbus_connection_signal_subscribe(FBus.get(), kPortal, kSettings, "SettingChanged", kPortalPath,
                                                       kAppearance, G_DBUS_SIGNAL_FLAGS_NONE, OnSettingChanged, this,
                                                       nullptr);
    if (GVariant* value = ReadColorScheme(FBus.get())) {
        Apply(value);
        g_variant_unref(value);
    }
}

TColorScheme::~TColorScheme() {
    if (FSubscription != 0) g_dbus_connection_signal_unsubscribe(FBus.get(), FSubscription);
}

void TColorScheme::OnSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                                    GVariant* parameters, gpointer self) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", nullptr, &key, &value);
    if (g_strcmp0(key, kColorScheme) == 0) static_cast<TColorScheme*>(self)->Apply(value);
    g_variant_unref(value);
}

void TColorScheme::Apply(GVariant* value) {
    if (!g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32)) return;
    const guint32 scheme = g_variant_get_uint32(value);
    const gboolean dark = scheme == 1 ? TRUE : scheme == 2 ? FALSE : FGtkPreference;
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark, nullptr);
}

}  // namespace quorvel::gtk
