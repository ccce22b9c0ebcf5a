#include "cli/Json.h"

#include <cmath>
#include <cstdio>

namespace dm::cli {

QByteArray jsonString(const QString& s)
{
    QByteArray out = "\"";
    for (const char c : s.toUtf8()) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
                out += buf;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

JsonObject& JsonObject::raw(const char* key, const QByteArray& json)
{
    if (!m_body.isEmpty())
        m_body += ',';
    m_body += jsonString(QString::fromUtf8(key)) + ':' + json;
    return *this;
}

JsonObject& JsonObject::add(const char* key, const QString& value) { return raw(key, jsonString(value)); }
JsonObject& JsonObject::add(const char* key, std::int64_t value) { return raw(key, QByteArray::number(value)); }
JsonObject& JsonObject::add(const char* key, bool value) { return raw(key, value ? "true" : "false"); }
JsonObject& JsonObject::add(const char* key, const JsonObject& value) { return raw(key, value.toJson()); }
JsonObject& JsonObject::add(const char* key, const QList<JsonObject>& values)
{
    QByteArray list = "[";
    for (const JsonObject& v : values)
        list += (list.size() > 1 ? "," : "") + v.toJson();
    return raw(key, list + ']');
}
JsonObject& JsonObject::add(const char* key, double value)
{
    if (!std::isfinite(value))
        return raw(key, "null");
    return raw(key, QByteArray::number(value, 'g', 9));
}

} // namespace dm::cli
