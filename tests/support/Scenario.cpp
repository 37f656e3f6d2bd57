#include "Scenario.h"

#include "Console.h"
#include "QtPrinting.h"
#include "TestApp.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QRegularExpression>

namespace {

constexpr char Marker[] = "=== ";

QByteArray WithoutLineEnd(QByteArray line) { return line.endsWith('\r') ? line.chopped(1) : line; }

QMap<QString, QByteArray> FilesUnder(const QString& folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), ReadFile(path));
    }
    return files;
}

} // namespace

QByteArray ColourName(QRgb colour)
{
    const QMap<QRgb, QByteArray> names { { StatusColour::Grey, "grey" }, { StatusColour::LightCyan, "cyan" },
        { StatusColour::Green, "green" }, { StatusColour::Red, "red" } };
    return names.value(colour, "other");
}

Scenario::Scenario(const QString& fixture)
{
    const QByteArray text = Fixture(fixture);
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype lineEnd = text.indexOf('\n', at);
        const qsizetype next = lineEnd < 0 ? text.size() : lineEnd + 1;
        const QByteArray line = text.mid(at, next - at);
        if (line.startsWith(Marker))
            mSections.append({ WithoutLineEnd(line.trimmed().mid(4)), {} });
        else if (!mSections.isEmpty())
            mSections.last().second += line;
        at = next;
    }
}

QByteArray Scenario::Section(const QByteArray& title) const
{
    for (const auto& [name, bytes] : mSections)
        if (name == title)
            return bytes;
    return {};
}

QByteArrayList Scenario::Lines(const QByteArray& title) const
{
    QByteArrayList lines;
    for (const QByteArray& line : Section(title).split('\n'))
        lines.append(WithoutLineEnd(line));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

QByteArray Scenario::Setting(const QByteArray& key, const QByteArray& unset) const
{
    for (const QByteArray& line : Lines("setup"))
        if (line.startsWith(key + ":"))
            return Unescaped(line.mid(key.size() + 1).trimmed());
    return unset;
}

void Scenario::ExpectOutcome(const QByteArray& console, const QString& folder, const FakeDialogs& dialogs, QRgb status) const
{
    // The application folder is a new temporary folder each run: texts name it "@HOME@".
    const auto homeless = [home = folder.toUtf8()](QByteArray text) { return text.replace(home, "@HOME@"); };
    EXPECT_EQ(homeless(console), Section("console"));
    QMap<QString, QByteArray> expectedFiles;
    QByteArrayList expectedDialogs;
    for (const auto& [title, bytes] : mSections) {
        if (title.startsWith("file "))
            expectedFiles.insert(QString::fromUtf8(title.mid(5)), bytes);
        if (title == "files")
            for (const QByteArray& line : Lines("files"))
                expectedFiles.insert(QString::fromUtf8(line.left(line.indexOf('\t'))), Unescaped(line.mid(line.indexOf('\t') + 1)));
        if (title.startsWith("dialog "))
            expectedDialogs.append(title.mid(7) + '\n' + bytes);
    }
    const QMap<QString, QByteArray> files = FilesUnder(folder);
    EXPECT_EQ(files.keys(), expectedFiles.keys());
    for (const QString& path : expectedFiles.keys())
        EXPECT_EQ(files.value(path), expectedFiles.value(path)) << path.toStdString();
    QByteArrayList shown;
    for (const ShownDialog& dialog : dialogs.shown)
        shown.append((QByteArray::number(dialog.style) + ' ' + dialog.title.toUtf8()).trimmed() + '\n' + homeless(dialog.text.toUtf8()) + "\r\n");
    EXPECT_EQ(shown, expectedDialogs);
    EXPECT_EQ(ColourName(status), Lines("status").value(0, "grey"));
}

QStringList ScenarioFiles(const QString& folder)
{
    return QDir(QStringLiteral(WRENPOST_FIXTURES) + QLatin1Char('/') + folder).entryList(QDir::Files, QDir::Name);
}

std::string ScenarioTestName(const ::testing::TestParamInfo<QString>& info)
{
    return QString(info.param).chopped(4).replace(QRegularExpression("[^A-Za-z0-9]"), "_").toStdString();
}
