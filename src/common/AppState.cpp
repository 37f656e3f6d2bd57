#include "AppState.h"

#include <QDir>

namespace {
std::unique_ptr<AppState>& instance()
{
    static std::unique_ptr<AppState> state = std::make_unique<AppState>();
    return state;
}
} // namespace

AppState& App() { return *instance(); }

void ResetAppState() { instance() = std::make_unique<AppState>(); }

QString JoinPath(const QString& folder, const QString& name) { return folder + QDir::separator() + name; }

QString AppFilePath(const QString& name) { return JoinPath(App().paths.applicationFolder, name); }
