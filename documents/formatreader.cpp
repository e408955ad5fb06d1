#include "documents/formatreader.h"

#include "base/safefile.h"

#include <QCoreApplication>

#include <cerrno>

namespace corvalen {

QString describeReadError(const ReadOutcome &outcome, const QString &fileName)
{
    const auto tr = [](const char *s) { return QCoreApplication::translate("Documents", s); };
    switch (outcome.error) {
    case ReadError::None:
        return QString();
    case ReadError::NotFound:
        return tr("The file %1 does not exist.").arg(fileName);
    case ReadError::IsFolder:
        return tr("%1 is a folder, not a document.").arg(fileName);
    case ReadError::PermissionDenied:
        return tr("%1 could not be opened: %2.").arg(fileName, systemErrorText(EACCES));
    case ReadError::Unsupported:
        return tr("%1 is not a document that Corvalen can read.").arg(fileName);
    case ReadError::Damaged:
        return tr("%1 is damaged: %2.").arg(fileName, outcome.detail);
    case ReadError::Password:
        return tr("%1 is protected by a password.").arg(fileName);
    case ReadError::TooOld:
        return tr("%1 was made by a word processor too old for Corvalen to read.").arg(fileName);
    case ReadError::OpenFailed:
        return tr("%1 could not be opened: %2.").arg(fileName, outcome.detail);
    case ReadError::Method:
        return tr("%1 is packed with a method Corvalen cannot unpack.").arg(fileName);
    case ReadError::Encoding:
        return tr("%1 is in an encoding Corvalen cannot read (%2).").arg(fileName, outcome.detail);
    case ReadError::ReadFailed:
        return tr("%1 could not be read: %2.").arg(fileName, outcome.detail);
    case ReadError::NotItsFormat:
        return tr("%1 is %2.").arg(fileName, outcome.detail);
    }
    return QString();
}

} // namespace corvalen
