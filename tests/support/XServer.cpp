#include "support/XServer.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <xcb/shape.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace dm::test {

// xcb's replies are the caller's to free.
template <class T>
static std::unique_ptr<T, decltype(&std::free)> reply(T* r) { return {r, &std::free}; }

bool waitFor(const std::function<bool()>& done, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

XServer::XServer()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        return;
    m_server.start(xvfb, QStringLiteral("-displayfd 1 -screen 0 800x600x24 -nolisten tcp").split(QLatin1Char(' ')));
    if (!waitFor([this] { return m_server.waitForReadyRead(100) || m_server.canReadLine(); }))
        return;
    m_display = QStringLiteral(":") + QString::fromLatin1(m_server.readLine().trimmed());
    m_conn = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (xcb_connection_has_error(m_conn) == 0)
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data->root;
}

XServer::~XServer()
{
    if (m_conn != nullptr)
        xcb_disconnect(m_conn);
    m_server.terminate();
    m_server.waitForFinished();
}

xcb_atom_t XServer::atom(const char* name) const
{
    const auto length = static_cast<uint16_t>(std::strlen(name));
    auto r = reply(xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, length, name), nullptr));
    return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

QByteArray XServer::property(xcb_window_t w, xcb_atom_t prop) const
{
    auto r = reply(xcb_get_property_reply(
        m_conn, xcb_get_property(m_conn, 0, w, prop, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
    return r ? QByteArray(static_cast<const char*>(xcb_get_property_value(r.get())),
                          xcb_get_property_value_length(r.get()))
             : QByteArray();
}

std::vector<xcb_window_t> XServer::viewable() const
{
    std::vector<xcb_window_t> out;
    auto tree = reply(xcb_query_tree_reply(m_conn, xcb_query_tree(m_conn, m_root), nullptr));
    const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
    for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
        auto attrs = reply(
            xcb_get_window_attributes_reply(m_conn, xcb_get_window_attributes(m_conn, children[i]), nullptr));
        if (attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE)
            out.push_back(children[i]);
    }
    return out;
}

std::optional<xcb_window_t> XServer::window(const QString& title) const
{
    // A window manager puts each window it manages into a frame of its own.
    std::vector<xcb_window_t> windows = viewable();
    const QByteArray managed = property(m_root, atom("_NET_CLIENT_LIST"));
    windows.insert(windows.end(), reinterpret_cast<const xcb_window_t*>(managed.constData()),
                   reinterpret_cast<const xcb_window_t*>(managed.constData() + managed.size()));
    for (const xcb_window_t w : windows) {
        if (QString::fromUtf8(property(w, atom("_NET_WM_NAME"))) == title)
            return w;
    }
    return std::nullopt;
}

QRect XServer::geometry(xcb_window_t w) const
{
    auto g = reply(xcb_get_geometry_reply(m_conn, xcb_get_geometry(m_conn, w), nullptr));
    // On the screen, whatever frame holds the window.
    auto at = reply(xcb_translate_coordinates_reply(m_conn, xcb_translate_coordinates(m_conn, w, m_root, 0, 0), nullptr));
    return g && at ? QRect(at->dst_x, at->dst_y, g->width, g->height) : QRect();
}

std::vector<QRect> XServer::shape(xcb_window_t w) const
{
    auto r = reply(xcb_shape_get_rectangles_reply(
        m_conn, xcb_shape_get_rectangles(m_conn, w, XCB_SHAPE_SK_BOUNDING), nullptr));
    std::vector<QRect> out;
    const xcb_rectangle_t* rects = r ? xcb_shape_get_rectangles_rectangles(r.get()) : nullptr;
    for (int i = 0; r && i < xcb_shape_get_rectangles_rectangles_length(r.get()); ++i)
        out.emplace_back(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return out;
}

} // namespace dm::test
