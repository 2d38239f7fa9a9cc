#pragma once

#include "BundleUpdater.h"

#include <QList>
#include <QString>
#include <QStringList>

// Collects what the update procedure reports and answers its question.
struct UpdateRecorder
{
    using Kind = Keldra::Deployment::BundleUpdater::MessageKind;

    struct Message
    {
        Kind kind;
        QString text;
    };
    struct Progress
    {
        int value;
        int maximum;
        QString label;
    };

    QStringList logs;
    QList<Message> messages;
    QList<Progress> progress;
    QStringList questions;
    bool answer = true;

    Keldra::Deployment::BundleUpdater::Callbacks callbacks()
    {
        Keldra::Deployment::BundleUpdater::Callbacks callbacks;
        callbacks.log = [this](const QString& line) { logs.append(line); };
        callbacks.message = [this](Kind kind, const QString& text) { messages.append({kind, text}); };
        callbacks.progress = [this](int value, int maximum, const QString& label) {
            progress.append({value, maximum, label});
        };
        callbacks.confirm = [this](const QString& title, const QString& text) {
            questions.append(title + QLatin1Char('|') + text);
            return answer;
        };
        return callbacks;
    }

    QStringList warnings() const { return texts(Kind::Warning); }
    QStringList informations() const { return texts(Kind::Information); }

    QStringList texts(Kind kind) const
    {
        QStringList result;
        for (const Message& message : messages) {
            if (message.kind == kind)
                result.append(message.text);
        }
        return result;
    }
};
