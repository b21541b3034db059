#pragma once

// Answers the annotation panel's boxes from a script and records what was shown.

#include "Annotations/AnnotationDialogs.h"

#include <QList>
#include <QStringList>

class ScriptedDialogs : public AnnotationDialogs {
public:
    struct Shown {
        QString kind;
        QString title;
        QString text;
    };

    QList<Shown> shown;
    QList<bool> answers;   // questions, in order; "Nie" once used up
    QStringList fileNames; // save dialogs, in order; cancelled once used up
    QStringList proposedNames;

    void information(QWidget*, const QString& title, const QString& text) override
    {
        shown << Shown{QStringLiteral("information"), title, text};
    }
    void critical(QWidget*, const QString& title, const QString& text) override
    {
        shown << Shown{QStringLiteral("critical"), title, text};
    }
    void message(const QString& text) override { shown << Shown{QStringLiteral("message"), QString(), text}; }
    bool question(const QString& text, bool) override
    {
        shown << Shown{QStringLiteral("question"), QString(), text};
        return !answers.isEmpty() && answers.takeFirst();
    }
    QString saveFileName(QWidget*, const QString& caption, const QString& proposed, const QString&) override
    {
        shown << Shown{QStringLiteral("save"), caption, proposed};
        proposedNames << proposed;
        return fileNames.isEmpty() ? QString() : fileNames.takeFirst();
    }

    QStringList texts(const QString& kind) const
    {
        QStringList result;
        for (const Shown& box : shown)
            if (box.kind == kind)
                result << box.text;
        return result;
    }
};
