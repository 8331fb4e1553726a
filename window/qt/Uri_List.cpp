#include "Uri_List.h"

#include <QList>
#include <QString>
#include <QSysInfo>
#include <optional>

namespace {

int Hex_Value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%41" becomes 'A'; a '%' not followed by two hex digits stays as it is.
std::string Percent_Decoded(const QByteArray& text) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && Hex_Value(text[i + 1]) >= 0 && Hex_Value(text[i + 2]) >= 0) {
            bytes += static_cast<char>(Hex_Value(text[i + 1]) * 16 + Hex_Value(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

bool Is_Local_Host(const QByteArray& host) {
    if (host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0) return true;
    const QByteArray self = QSysInfo::machineHostName().toUtf8();
    return !self.isEmpty() && host.compare(self, Qt::CaseInsensitive) == 0;
}

// The local path a file URI names, or nothing when it names no local file.
std::optional<std::string> Local_Path(const QByteArray& uri) {
    if (uri.left(5).toLower() != "file:") return std::nullopt;
    QByteArray rest = uri.mid(5);
    if (rest.startsWith("//")) {
        const qsizetype slash = rest.indexOf('/', 2);
        if (slash < 0 || !Is_Local_Host(rest.mid(2, slash - 2))) return std::nullopt;
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/')) return std::nullopt;
    std::string path = Percent_Decoded(rest);
    // A NUL would cut the path short in the file functions and name another file.
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

}  // namespace

std::vector<std::string> Paths_From_Uri_List(const QByteArray& uri_list) {
    std::vector<std::string> paths;
    for (const QByteArray& line : uri_list.split('\n')) {
        const QByteArray uri = line.trimmed();  // also drops the CR of a CR LF separator
        if (uri.isEmpty() || uri.startsWith('#')) continue;
        if (std::optional<std::string> path = Local_Path(uri))
            paths.push_back(std::move(*path));
        else
            paths.push_back(uri.toStdString());
    }
    return paths;
}
