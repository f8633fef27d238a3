#include "operations/Csv.h"

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace kc {

QString csvField(const QString &text)
{
    static const QString special = QStringLiteral(",\"\r\n");
    const bool quote =
        std::any_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); }) ||
        text.trimmed() != text;
    if (!quote)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

bool openLines(QFile &file, const QByteArray &header)
{
    // Unbuffered: each line is one write to the system, whole or not at all.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    if (file.size() == 0)
        return appendWhole(file, header);
    file.seek(file.size() - 1);
    return file.read(1) == "\n" || appendWhole(file, "\n");
}

bool appendWhole(QFile &file, const QByteArray &bytes, const std::function<bool()> &toDisk)
{
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size() && file.flush() && (!toDisk || toDisk()))
        return true;
    file.resize(before);
    return false;
}

bool putOnDisk(QFile &file)
{
#ifdef Q_OS_UNIX
    return ::fdatasync(file.handle()) == 0;
#else
    return file.isOpen();
#endif
}

} // namespace kc
