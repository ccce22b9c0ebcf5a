#pragma once
// An Xvfb of its own and a connection to it, for driving and inspecting the
// real program as a user's desktop would.
#include <QByteArray>
#include <QProcess>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <functional>
#include <optional>
#include <vector>

namespace dm::test {

// Polls `done` until it holds or `ms` have passed.
[[nodiscard]] bool waitFor(const std::function<bool()>& done, int ms = 15000);

class XServer {
public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // False when Xvfb is missing or did not start.
    [[nodiscard]] bool ok() const { return m_root != 0; }
    [[nodiscard]] const QString& display() const { return m_display; }
    [[nodiscard]] xcb_window_t root() const { return m_root; }

    [[nodiscard]] xcb_atom_t atom(const char* name) const;
    [[nodiscard]] QByteArray property(xcb_window_t w, xcb_atom_t prop) const;
    // The mapped top-level windows, bottom to top.
    [[nodiscard]] std::vector<xcb_window_t> viewable() const;
    // A mapped top-level or managed window whose _NET_WM_NAME is `title`.
    [[nodiscard]] std::optional<xcb_window_t> window(const QString& title) const;
    [[nodiscard]] QRect geometry(xcb_window_t w) const;
    // The window's bounding shape as the server holds it.
    [[nodiscard]] std::vector<QRect> shape(xcb_window_t w) const;

private:
    QProcess m_server;
    QString m_display;
    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
};

} // namespace dm::test
