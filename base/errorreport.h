#pragma once

#include <QString>

#include <functional>

namespace corvalen {

/// Where failures are reported; every operation that reports shares one such tag and numbers.
inline constexpr char16_t kSupportAddress[] = u"support@quillmark.example";
inline constexpr char16_t kStartTag[] = u"in Pellago5/20/2014.Form1.Start ";
inline constexpr char16_t kReaderTag[] = u"in Pellago5/20/2014.Word1.ReturnDocumentString ";

/// The error report's message text: description, CR LF, tag, "at line ", number, two CRs and
/// the request to email a screenshot.
QString errorReportText(const QString &description, const QString &locationTag, int line);

/// Receives finished error reports. The windows show them in the "Application Error" box, the
/// command line prints them, tests record them. The call returns when the user has seen it.
class ErrorReporter
{
public:
    virtual ~ErrorReporter() = default;
    /// Builds the message with errorReportText() and hands it to show().
    void reportError(const QString &description, const QString &locationTag, int line);

protected:
    virtual void show(const QString &message, const QString &description,
                      const QString &locationTag, int line) = 0;
};

/// A reporter that hands each message to a function.
class FunctionErrorReporter : public ErrorReporter
{
public:
    using Function = std::function<void(const QString &message)>;
    explicit FunctionErrorReporter(Function f) : m_function(std::move(f)) { }

protected:
    void show(const QString &message, const QString &, const QString &, int) override
    {
        if (m_function)
            m_function(message);
    }

private:
    Function m_function;
};

/// A reporter that keeps the description of the first failure reported (about one file: its
/// first report says what happened), for a caller that names the failure itself.
class FirstFailure : public ErrorReporter
{
public:
    QString description;

protected:
    void show(const QString &, const QString &text, const QString &, int) override
    {
        if (description.isEmpty())
            description = text;
    }
};

} // namespace corvalen
