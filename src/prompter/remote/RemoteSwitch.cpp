#include "prompter/remote/RemoteSwitch.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "prompter/PrompterSettings.h"
#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteServer.h"
#include "prompter/remote/RemoteSettings.h"

namespace prompter::remote {

RemoteSwitch::RemoteSwitch(PromptRemote& prompt, LibraryView* library, QObject* parent)
    : QObject(parent), prompt_(prompt), library_(library) {}

RemoteSwitch::~RemoteSwitch() = default;

std::optional<QString> RemoteSwitch::start(const ListenAddress& where) {
    session_.reset();  // its port is free before listening anew
    QString failure;
    session_ = RemoteSession::start(where, prompt_, library_.data(), &failure);
    if (!session_) {
        emit addressChanged({});
        return failure;
    }
    if (follower_)
        session_->setFollower(*follower_);
    emit addressChanged(session_->pageAddress());
    return std::nullopt;
}

void RemoteSwitch::stop() {
    if (!session_)
        return;
    session_.reset();
    emit addressChanged({});
}

QWidget* RemoteSwitch::makeSettingsRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("remoteSettings"));
    auto* on = new QCheckBox(QStringLiteral("Serve a phone remote on the local network"), row);
    on->setAccessibleName(QStringLiteral("Remote control"));
    auto* address = new QLineEdit(row);
    address->setAccessibleName(QStringLiteral("The remote's address and port"));
    address->setPlaceholderText(QStringLiteral("8080, or 127.0.0.1:8080 for this computer only"));
    auto* status = new QLabel(row);
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(on);
    layout->addWidget(address);
    layout->addWidget(status);

    const RemoteSettings saved = RemoteSettings::load();
    on->setChecked(session_ != nullptr);
    address->setText(saved.address);
    const QPointer<QLabel> said(status);
    const auto showState = [this, said] {
        if (said)
            said->setText(session_ ? QStringLiteral("On, at port %1: the library shows the "
                                                    "address and its QR code.")
                                         .arg(session_->server().port())
                                   : QStringLiteral("Off: nothing listens."));
    };
    showState();
    const QPointer<QCheckBox> checked(on);
    const QPointer<QLineEdit> typed(address);
    const auto apply = [this, checked, typed, said, showState] {
        if (!checked || !typed || !said)
            return;
        RemoteSettings settings;
        settings.enabled = checked->isChecked();
        settings.address = typed->text().trimmed();
        QString problem;
        const auto where = readListenAddress(settings.address, &problem);
        if (!where) {
            said->setText(problem);
            return;
        }
        if (!settings.save()) {
            said->setText(QStringLiteral("Cannot save the settings in %1.")
                              .arg(PrompterSettings::filePath()));
            return;
        }
        if (!settings.enabled) {
            stop();
            showState();
            return;
        }
        // Already served there (port 0 asks for any port, so the one taken will do).
        const bool same = session_ && session_->server().address() == where->address &&
                          (where->port == 0 || session_->server().port() == where->port);
        if (!same) {
            if (const auto failure = start(*where)) {
                said->setText(QStringLiteral("Cannot serve the remote: %1").arg(*failure));
                return;
            }
        }
        showState();
    };
    connect(on, &QCheckBox::toggled, this, apply);
    connect(address, &QLineEdit::editingFinished, this, apply);
    return row;
}

}  // namespace prompter::remote
