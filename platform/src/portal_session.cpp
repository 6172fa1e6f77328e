// The portal's requests answer through a Response signal on a request
// object whose path the caller can predict from its unique bus name and a
// token of its own; the signal is subscribed to before each call so that
// no answer is missed. Everything runs on a private main context that this
// file iterates itself, with a time limit on every wait.
#include "portal_session.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <chrono>

namespace plat {
namespace portal {

namespace {

constexpr const char* kBusName = "org.freedesktop.portal.Desktop";
constexpr const char* kObjectPath = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr int kCallTimeoutMs = 10000;
// The user may be looking at a selection dialog.
constexpr int kStartTimeoutMs = 180000;

// Portal source types and cursor modes.
constexpr guint32 kSourceMonitor = 1;
constexpr guint32 kCursorHidden = 1;
constexpr guint32 kCursorEmbedded = 2;
constexpr guint32 kPersistUntilRevoked = 2;

struct Response {
  bool arrived = false;
  guint32 code = 2;
  GVariant* results = nullptr;
  Response() = default;
  Response(const Response&) = delete;
  Response& operator=(const Response&) = delete;
  ~Response() {
    if (results) g_variant_unref(results);
  }
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data) {
  auto* r = static_cast<Response*>(data);
  if (r->arrived) return;
  r->arrived = true;
  g_variant_get(parameters, "(u@a{sv})", &r->code, &r->results);
}

std::string TakeError(GError* e, const char* what) {
  std::string s = std::string(what) + ": " + (e ? e->message : "no answer");
  if (e) g_error_free(e);
  return s;
}

GDBusConnection* SessionBus(GError** e) {
  gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, e);
  if (!address) return nullptr;
  // A private connection: its signals come to the main context of the
  // thread that subscribes, whatever else in the process uses the bus.
  GDBusConnection* c = g_dbus_connection_new_for_address_sync(
      address,
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, e);
  g_free(address);
  return c;
}

}  // namespace

bool ScreenCastAnswers(int timeoutMs) {
  GError* e = nullptr;
  GDBusConnection* bus = SessionBus(&e);
  if (!bus) {
    if (e) g_error_free(e);
    return false;
  }
  GVariant* v = g_dbus_connection_call_sync(bus, kBusName, kObjectPath, "org.freedesktop.DBus.Properties", "Get",
                                            g_variant_new("(ss)", kScreenCast, "version"), G_VARIANT_TYPE("(v)"),
                                            G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &e);
  if (e) g_error_free(e);
  if (v) g_variant_unref(v);
  g_dbus_connection_close_sync(bus, nullptr, nullptr);
  g_object_unref(bus);
  return v != nullptr;
}

struct Session::Impl {
  const std::atomic<bool>* stop;
  GMainContext* context = nullptr;
  GDBusConnection* bus = nullptr;
  std::string sender;  // unique name, ':' dropped and '.' made '_'
  std::string sessionHandle;
  unsigned counter = 0;

  std::string NewToken() { return "tandeo" + std::to_string(getpid()) + "_" + std::to_string(++counter); }

  // Calls method (on the session, with the parent window for Start) with
  // options that get a fresh handle_token, then waits for the request's
  // Response. Ok only for response code 0.
  Outcome Request(const char* method, const char* sessionPath, bool withParent, GVariantBuilder* options,
                  int timeoutMs, Response* r, std::string* error) {
    const std::string token = NewToken();
    g_variant_builder_add(options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    const std::string path = std::string(kObjectPath) + "/request/" + sender + "/" + token;
    // Subscribed before the call: the bus takes the match rule before the
    // call that follows it on the same connection.
    guint sub = g_dbus_connection_signal_subscribe(bus, kBusName, "org.freedesktop.portal.Request", "Response",
                                                   path.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, r,
                                                   nullptr);
    GVariant* args;
    if (!sessionPath) {
      args = g_variant_new("(a{sv})", options);
    } else if (withParent) {
      args = g_variant_new("(osa{sv})", sessionPath, "", options);
    } else {
      args = g_variant_new("(oa{sv})", sessionPath, options);
    }
    GError* e = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, kBusName, kObjectPath, kScreenCast, method, args,
                                                  G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                                  nullptr, &e);
    Outcome out = Outcome::Ok;
    if (!reply) {
      *error = TakeError(e, method);
      out = Outcome::Failed;
    } else {
      g_variant_unref(reply);
      out = Wait(r, timeoutMs);
      if (out == Outcome::Failed) *error = std::string(method) + ": the portal did not answer in time";
    }
    g_dbus_connection_signal_unsubscribe(bus, sub);
    if (out != Outcome::Ok) return out;
    if (r->code == 1) {
      *error = std::string(method) + ": the user declined";
      return Outcome::Refused;
    }
    if (r->code != 0) {
      // Code 2 is also what a portal's policy answers (no permission kept,
      // no dialog possible).
      *error = std::string(method) + ": the portal refused (code " + std::to_string(r->code) + ")";
      return Outcome::Refused;
    }
    return Outcome::Ok;
  }

  Outcome Wait(Response* r, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!r->arrived) {
      if (stop->load()) return Outcome::Stopped;
      if (std::chrono::steady_clock::now() >= deadline) return Outcome::Failed;
      if (!g_main_context_iteration(context, FALSE)) g_usleep(10000);
    }
    return Outcome::Ok;
  }

  guint32 CursorModes() {
    GVariant* v = g_dbus_connection_call_sync(bus, kBusName, kObjectPath, "org.freedesktop.DBus.Properties", "Get",
                                              g_variant_new("(ss)", kScreenCast, "AvailableCursorModes"),
                                              G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr,
                                              nullptr);
    guint32 modes = 0;
    if (v) {
      GVariant* inner = nullptr;
      g_variant_get(v, "(v)", &inner);
      if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) modes = g_variant_get_uint32(inner);
      g_variant_unref(inner);
      g_variant_unref(v);
    }
    return modes;
  }
};

Session::Session(const std::atomic<bool>* stop) : impl_(new Impl) {
  impl_->stop = stop;
  impl_->context = g_main_context_new();
}

Session::~Session() {
  g_main_context_push_thread_default(impl_->context);
  if (impl_->bus) {
    if (!impl_->sessionHandle.empty()) {
      GVariant* v = g_dbus_connection_call_sync(impl_->bus, kBusName, impl_->sessionHandle.c_str(),
                                                "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                                                G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
      if (v) g_variant_unref(v);
    }
    g_dbus_connection_close_sync(impl_->bus, nullptr, nullptr);
    g_object_unref(impl_->bus);
  }
  while (g_main_context_iteration(impl_->context, FALSE)) {
  }
  g_main_context_pop_thread_default(impl_->context);
  g_main_context_unref(impl_->context);
  delete impl_;
}

Outcome Session::Open(const std::string& restoreToken, CastGrant* grant, std::string* error) {
  Impl& s = *impl_;
  g_main_context_push_thread_default(s.context);
  struct Pop {
    GMainContext* c;
    ~Pop() { g_main_context_pop_thread_default(c); }
  } pop{s.context};

  GError* e = nullptr;
  s.bus = SessionBus(&e);
  if (!s.bus) {
    *error = TakeError(e, "session bus");
    return Outcome::Failed;
  }
  std::string unique = g_dbus_connection_get_unique_name(s.bus);
  s.sender.clear();
  for (char c : unique.substr(1)) s.sender += c == '.' ? '_' : c;

  // CreateSession
  Response created;
  GVariantBuilder options;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string(s.NewToken().c_str()));
  Outcome out = s.Request("CreateSession", nullptr, false, &options, kCallTimeoutMs, &created, error);
  if (out != Outcome::Ok) return out == Outcome::Refused ? Outcome::Failed : out;
  const gchar* handle = nullptr;
  if (!created.results || !g_variant_lookup(created.results, "session_handle", "&s", &handle)) {
    *error = "CreateSession: no session handle";
    return Outcome::Failed;
  }
  s.sessionHandle = handle;

  // SelectSources: one monitor; the pointer in the picture where the portal
  // can draw it there.
  Response selected;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kSourceMonitor));
  g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
  const guint32 modes = s.CursorModes();
  if (modes & kCursorEmbedded) {
    g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorEmbedded));
  } else if (modes & kCursorHidden) {
    g_variant_builder_add(&options, "{sv}", "cursor_mode", g_variant_new_uint32(kCursorHidden));
  }
  g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(kPersistUntilRevoked));
  if (!restoreToken.empty()) {
    g_variant_builder_add(&options, "{sv}", "restore_token", g_variant_new_string(restoreToken.c_str()));
  }
  out = s.Request("SelectSources", s.sessionHandle.c_str(), false, &options, kCallTimeoutMs, &selected, error);
  if (out != Outcome::Ok) return out;

  // Start: where the user may be asked.
  Response started;
  g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
  out = s.Request("Start", s.sessionHandle.c_str(), true, &options, kStartTimeoutMs, &started, error);
  if (out != Outcome::Ok) return out;
  GVariant* streams = started.results ? g_variant_lookup_value(started.results, "streams", G_VARIANT_TYPE("a(ua{sv})"))
                                      : nullptr;
  if (!streams || g_variant_n_children(streams) == 0) {
    if (streams) g_variant_unref(streams);
    *error = "Start: no stream";
    return Outcome::Failed;
  }
  GVariant* props = nullptr;
  g_variant_get_child(streams, 0, "(u@a{sv})", &grant->nodeId, &props);
  gint32 w = 0, h = 0;
  if (g_variant_lookup(props, "size", "(ii)", &w, &h)) {
    grant->width = w;
    grant->height = h;
  }
  g_variant_unref(props);
  g_variant_unref(streams);
  const gchar* token = nullptr;
  if (g_variant_lookup(started.results, "restore_token", "&s", &token)) grant->restoreToken = token;

  // OpenPipeWireRemote: the descriptor of a PipeWire connection that sees
  // only the granted stream.
  GUnixFDList* fds = nullptr;
  GVariant* opts = g_variant_new("a{sv}", nullptr);
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
      s.bus, kBusName, kObjectPath, kScreenCast, "OpenPipeWireRemote",
      g_variant_new("(o@a{sv})", s.sessionHandle.c_str(), opts), G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE,
      kCallTimeoutMs, nullptr, &fds, nullptr, &e);
  if (!reply) {
    *error = TakeError(e, "OpenPipeWireRemote");
    return Outcome::Failed;
  }
  gint32 index = -1;
  g_variant_get(reply, "(h)", &index);
  g_variant_unref(reply);
  grant->pipewireFd = fds ? g_unix_fd_list_get(fds, index, &e) : -1;
  if (fds) g_object_unref(fds);
  if (grant->pipewireFd < 0) {
    *error = TakeError(e, "OpenPipeWireRemote");
    return Outcome::Failed;
  }
  return Outcome::Ok;
}

}  // namespace portal
}  // namespace plat
