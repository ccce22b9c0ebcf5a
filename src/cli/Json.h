#pragma once
// A minimal JSON writer that keeps keys in the order they are added; the
// tool's output lists fields in record order, which QJsonObject would sort.
#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

namespace dm::cli {

class JsonObject {
public:
    JsonObject& add(const char* key, const QString& value);
    JsonObject& add(const char* key, std::int64_t value);
    JsonObject& add(const char* key, double value);
    JsonObject& add(const char* key, bool value);
    JsonObject& add(const char* key, const JsonObject& value);
    JsonObject& add(const char* key, const QList<JsonObject>& values);
    [[nodiscard]] QByteArray toJson() const { return '{' + m_body + '}'; }

private:
    JsonObject& raw(const char* key, const QByteArray& json);
    QByteArray m_body;
};

[[nodiscard]] QByteArray jsonString(const QString& s);

} // namespace dm::cli
