#pragma once
// Errors raised inside a call chain travel as AppError up to the nearest caller that traps
// them; that caller stores them in the shared error state and reports them. No AppError (or
// any other exception) may leave an event handler into Qt's event loop: see GuardEntryPoint.

#include <QString>
#include <exception>
#include <functional>

// Errors the program raises itself carry this number.
constexpr qint64 AppErrorNumber = 2048;

// The run-time error numbers the program reports for bad values, as its messages show them.
namespace ErrorNumbers {
constexpr int Overflow = 6;            // a number outside its range
constexpr int SubscriptOutOfRange = 9; // an index outside a list
constexpr int TypeMismatch = 13;       // a text that is not a number
} // namespace ErrorNumbers

class AppError : public std::exception {
public:
    AppError(qint64 number, QString description);
    qint64 number() const { return mNumber; }
    const QString& description() const { return mDescription; }
    const char* what() const noexcept override { return mWhat.constData(); }

private:
    qint64 mNumber;
    QString mDescription;
    QByteArray mWhat;
};

// Exception reports show at most this many characters.
constexpr qsizetype ExceptionReportLimit = 1000;

// Stores an error's number and description in LastErrNumber / LastErrDescription.
void StoreLastError(qint64 number, const QString& description);
// The same for any exception caught by a handler (a foreign one gets number 2048).
void StoreLastError(const std::exception& error);

// Message box: "EXCEPTION <number>" / description / place, cut to 1000 characters.
void ReportGeneralException(const QString& place);

[[noreturn]] void RaiseAppError(const QString& description);

// Raises LastErrNumber with LastErrDescription & CR LF & place.
[[noreturn]] void ReraiseWithPlace(const QString& place);

// Runs an event handler's body; whatever it raises is stored and reported through
// ReportGeneralException with the place naming the entry point.
void GuardEntryPoint(const QString& place, const std::function<void()>& body);
