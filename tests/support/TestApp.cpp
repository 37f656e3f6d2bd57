#include "TestApp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

TestHome::TestHome()
{
    ResetAppState();
    AppState& app = App();
    app.paths.applicationFolder = folder.path();
    app.services.dialogs = &dialogs;
    app.services.clock = &clock;
    app.services.beep = [this] { ++beeps; };
}

TestHome::~TestHome() { ResetAppState(); }

QString TestHome::AppPath(const QString& relative) const { return folder.filePath(relative); }

void TestHome::WriteAppFile(const QString& relative, const QByteArray& bytes) const
{
    EXPECT_TRUE(WriteFile(AppPath(relative), bytes)) << relative.toStdString();
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &mSaved), 0);
    const rlimit limited { bytes, mSaved.rlim_max };
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
}

FileSizeLimit::~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &mSaved); }

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray TestHome::ReadAppFile(const QString& relative) const { return ReadFile(AppPath(relative)); }

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Fixture(const QString& name)
{
    QFile file(QStringLiteral(WRENPOST_FIXTURES) + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "missing fixture " << name.toStdString();
    return file.readAll();
}

QByteArray Unescaped(const QByteArray& field)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            bytes += field[i];
            continue;
        }
        const char code = field[++i];
        if (code == 'x') {
            bytes += char(field.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else
            bytes += code == 'r' ? '\r' : code == 'n' ? '\n' : code == 't' ? '\t' : code;
    }
    return bytes;
}

QList<QByteArrayList> FixtureRows(const QString& name)
{
    QList<QByteArrayList> rows;
    for (const QByteArray& line : Fixture(name).split('\n')) {
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        QByteArrayList row;
        for (const QByteArray& field : line.split('\t'))
            row.append(Unescaped(field));
        rows.append(row);
    }
    return rows;
}

unsigned FileMode(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}
