#include "Annotations/SystemErrorText.h"

#include <QFileDevice>
#include <QHash>
#include <QLocale>

#include <cerrno>
#include <locale.h>
#include <string.h>

namespace {

// The common errors in the C library's own Polish wording, for a system
// without the Polish locale or its messages.
struct OwnText {
    int error;
    const char* text;
};
const OwnText kOwnTexts[] = {
    {EPERM, "Operacja niedozwolona"},
    {ENOENT, "Nie ma takiego pliku ani katalogu"},
    {EIO, "Błąd wejścia/wyjścia"},
    {EACCES, "Brak dostępu"},
    {EBUSY, "Urządzenie lub zasoby zajęte"},
    {EEXIST, "Plik istnieje"},
    {ENOTDIR, "Nie jest katalogiem"},
    {EISDIR, "Jest katalogiem"},
    {EMFILE, "Za dużo otwartych plików"},
    {ENOSPC, "Brak miejsca na urządzeniu"},
    {EROFS, "System plików wyłącznie do odczytu"},
    {ENAMETOOLONG, "Za długa nazwa pliku"},
    {EDQUOT, "Przekroczony limit dyskowy"},
};

// The C library's descriptions in English and, where the system has them, in
// Polish; built once, on first use.
class Catalogue {
public:
    Catalogue() : english(newlocale(LC_ALL_MASK, "C", locale_t(nullptr))), polish(polishMessages())
    {
        for (int error = 1; error < kLastError && english; ++error)
            errors.insert(englishText(error), error);
    }
    ~Catalogue()
    {
        if (polish)
            freelocale(polish);
        if (english)
            freelocale(english);
    }
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    // 0 when the text describes no system error.
    int errorOf(const QString& description) const { return errors.value(description); }

    QString polishText(int error) const
    {
        if (polish) {
            const QString text = QString::fromUtf8(strerror_l(error, polish));
            if (text != englishText(error))
                return text;
        }
        for (const OwnText& own : kOwnTexts)
            if (own.error == error)
                return QString::fromUtf8(own.text);
        return QString();
    }

private:
    static const int kLastError = 256;

    // The process's messages locale (the one the environment names, when the
    // system has it) if it is a Polish one, writing UTF-8 whatever its own encoding.
    static locale_t polishMessages()
    {
        const char* name = setlocale(LC_MESSAGES, nullptr);
        if (!name || QLocale(QString::fromLatin1(name)).language() != QLocale::Polish)
            return locale_t(nullptr);
        const locale_t messages = newlocale(LC_MESSAGES_MASK, name, locale_t(nullptr));
        if (!messages)
            return messages;
        const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", messages);
        if (!utf8)
            freelocale(messages);
        return utf8;
    }

    QString englishText(int error) const { return english ? QString::fromUtf8(strerror_l(error, english)) : QString(); }

    const locale_t english;
    const locale_t polish;
    QHash<QString, int> errors;
};

bool polishLocale() { return QLocale::system().language() == QLocale::Polish; }

} // namespace

QString SystemErrorText::of(int error) { return localised(qt_error_string(error)); }

QString SystemErrorText::of(const QFileDevice& file) { return localised(file.errorString()); }

QString SystemErrorText::localised(const QString& description)
{
    if (!polishLocale())
        return description;
    static const Catalogue catalogue;
    const int error = catalogue.errorOf(description);
    const QString polish = error ? catalogue.polishText(error) : QString();
    return polish.isEmpty() ? description : polish;
}
