#pragma once

#include "deployment/BundleUpdater.h"
#include "texts/DeploymentErrorText.h"

#include <QList>
#include <QString>
#include <QStringList>

// Collects what the update procedure reports and answers its question; a failed
// run's error is shown the way KeldraConfig shows it (finish).
struct UpdateRecorder
{
    enum class Kind { Information, Warning };

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
        callbacks.inform = [this](const QString& text) { messages.append({Kind::Information, text}); };
        callbacks.progress = [this](int value, int maximum, const QString& label) {
            progress.append({value, maximum, label});
        };
        callbacks.confirm = [this](const QString& title, const QString& text) {
            questions.append(title + QLatin1Char('|') + text);
            return answer;
        };
        return callbacks;
    }

    // Records the failure of the run that returned outcome, and passes outcome on.
    Keldra::Deployment::UpdateOutcome finish(const Keldra::Deployment::BundleUpdater& updater,
                                             Keldra::Deployment::UpdateOutcome outcome)
    {
        using Keldra::Texts::DeploymentErrorText;
        if (outcome != Keldra::Deployment::UpdateOutcome::Failed)
            return outcome;
        const QString text = DeploymentErrorText::message(updater.lastError());
        switch (DeploymentErrorText::presentation(updater.lastError())) {
        case DeploymentErrorText::Presentation::Notice:
            messages.append({Kind::Information, text});
            break;
        case DeploymentErrorText::Presentation::LoggedWarning:
            logs.append(text);
            messages.append({Kind::Warning, text});
            break;
        case DeploymentErrorText::Presentation::Warning:
            messages.append({Kind::Warning, text});
            break;
        case DeploymentErrorText::Presentation::Silent:
            break;
        }
        return outcome;
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
