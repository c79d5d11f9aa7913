#include "prompter/SettingsWindow.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QRegularExpression>
#include <QScreen>
#include <cmath>
#include <utility>

#include "qttext/PlainTextSource.h"

namespace prompter {
namespace {

constexpr const char* kSample =
    "Quarterly results\n"
    "# Opening\n"
    "Good morning, everyone. [smile] Thank you for coming.\n"
    "# The numbers\n"
    "Revenue grew by eight per cent [slide 2] led by the northern region.\n";

template <typename Widget>
Widget* named(Widget* widget, const QString& name) {
    widget->setAccessibleName(name);
    return widget;
}

}  // namespace

SettingsWindow::SettingsWindow(QWidget* parent)
    : QDialog(parent),
      screen(named(new QComboBox(this), QStringLiteral("Screen to prompt on"))),
      fontFamily(named(new QFontComboBox(this), QStringLiteral("Font"))),
      fontSize(named(new QSpinBox(this), QStringLiteral("Text size"))),
      margin(named(new QSpinBox(this), QStringLiteral("Margins"))),
      readingLine(named(new QSpinBox(this), QStringLiteral("Reading line"))),
      lineSpacing(named(new QDoubleSpinBox(this), QStringLiteral("Line spacing"))),
      textColour(named(new QPushButton(this), QStringLiteral("Text colour"))),
      backgroundColour(named(new QPushButton(this), QStringLiteral("Background colour"))),
      cueColour(named(new QPushButton(this), QStringLiteral("Cue colour"))),
      mirror(named(new QComboBox(this), QStringLiteral("Mirror"))),
      countdown(named(new QDoubleSpinBox(this), QStringLiteral("Countdown"))),
      speed(named(new QSpinBox(this), QStringLiteral("Default speed"))),
      libraryFolder(named(new QLineEdit(this), QStringLiteral("Library folder"))),
      followVoice(
          named(new QCheckBox(QStringLiteral("Follow my voice from each prompt's start"), this),
                QStringLiteral("Follow the voice"))),
      microphone(named(new QComboBox(this), QStringLiteral("Microphone"))),
      voiceModel(named(new QLineEdit(this), QStringLiteral("Voice model folder"))),
      preview_(new PromptView(std::make_shared<SteadyPromptClock>(), this)) {
    setWindowTitle(QStringLiteral("Teleprompter Settings"));
    setAccessibleName(QStringLiteral("Settings"));
    screen->addItem(QStringLiteral("The window's own screen"), QString());
    for (const QScreen* each : QGuiApplication::screens())
        screen->addItem(QStringLiteral("%1 (%2\u00d7%3)")
                            .arg(each->name())
                            .arg(each->geometry().width())
                            .arg(each->geometry().height()),
                        each->name());
    fontSize->setRange(12, 400);
    fontSize->setSuffix(QStringLiteral(" px"));
    margin->setRange(0, 40);
    margin->setSuffix(QStringLiteral(" % each side"));
    readingLine->setRange(5, 95);
    readingLine->setSuffix(QStringLiteral(" % from the top"));
    lineSpacing->setRange(0.8, 3);
    lineSpacing->setDecimals(1);
    lineSpacing->setSingleStep(0.1);
    lineSpacing->setSuffix(QStringLiteral(" \u00d7 the font's line"));
    mirror->addItem(QStringLiteral("None"), static_cast<int>(Mirror::none));
    mirror->addItem(QStringLiteral("Left-right (for glass)"), static_cast<int>(Mirror::horizontal));
    mirror->addItem(QStringLiteral("Upside down"), static_cast<int>(Mirror::vertical));
    mirror->addItem(QStringLiteral("Both"), static_cast<int>(Mirror::both));
    countdown->setRange(0, 60);
    countdown->setDecimals(0);
    countdown->setSuffix(QStringLiteral(" s"));
    speed->setRange(20, 600);
    speed->setSingleStep(10);
    speed->setSuffix(QStringLiteral(" words a minute"));
    auto* chooseFolder = named(new QPushButton(QStringLiteral("Choose\u2026"), this),
                               QStringLiteral("Choose the library folder"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(libraryFolder, 1);
    folderRow->addWidget(chooseFolder);
    libraryFolder->setPlaceholderText(QDir::homePath() + QStringLiteral("/Teleprompter"));
    // A microphone is chosen from those there are, or by a part of its name (one plugged in
    // later is found by it).
    microphone->setEditable(true);
    microphone->setInsertPolicy(QComboBox::NoInsert);
    microphone->lineEdit()->setPlaceholderText(QStringLiteral("The system's default"));
    setMicrophones({});
    voiceModel->setPlaceholderText(QStringLiteral("The packaged English model"));
    auto* chooseModel = named(new QPushButton(QStringLiteral("Choose\u2026"), this),
                              QStringLiteral("Choose the voice model's folder"));
    auto* modelRow = new QHBoxLayout;
    modelRow->addWidget(voiceModel, 1);
    modelRow->addWidget(chooseModel);

    auto* form = new QFormLayout;
    form_ = form;
    form->addRow(QStringLiteral("Prompt on"), screen);
    form->addRow(QStringLiteral("Font"), fontFamily);
    form->addRow(QStringLiteral("Size"), fontSize);
    form->addRow(QStringLiteral("Margins"), margin);
    form->addRow(QStringLiteral("Line spacing"), lineSpacing);
    form->addRow(QStringLiteral("Reading line"), readingLine);
    form->addRow(QStringLiteral("Text"), textColour);
    form->addRow(QStringLiteral("Background"), backgroundColour);
    form->addRow(QStringLiteral("Cues"), cueColour);
    form->addRow(QStringLiteral("Mirror"), mirror);
    form->addRow(QStringLiteral("Countdown"), countdown);
    form->addRow(QStringLiteral("Speed"), speed);
    form->addRow(QStringLiteral("Library (from the next start)"), folderRow);
    form->addRow(QStringLiteral("Voice"), followVoice);
    form->addRow(QStringLiteral("Microphone"), microphone);
    form->addRow(QStringLiteral("Voice model"), modelRow);
    preview_->setAccessibleName(QStringLiteral("Preview of the prompt"));
    preview_->setMinimumSize(480, 320);
    preview_->setFocusPolicy(Qt::NoFocus);
    preview_->setScript(std::make_shared<qttext::PlainTextSource>(std::string(kSample)));
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(preview_, 1);

    const auto changedNow = [this] { fromControls(); };
    connect(screen, &QComboBox::currentIndexChanged, this, changedNow);
    connect(fontFamily, &QFontComboBox::currentFontChanged, this, changedNow);
    connect(fontSize, &QSpinBox::valueChanged, this, changedNow);
    connect(margin, &QSpinBox::valueChanged, this, changedNow);
    connect(readingLine, &QSpinBox::valueChanged, this, changedNow);
    connect(lineSpacing, &QDoubleSpinBox::valueChanged, this, changedNow);
    connect(followVoice, &QCheckBox::toggled, this, changedNow);
    connect(microphone, &QComboBox::currentIndexChanged, this, changedNow);
    connect(microphone->lineEdit(), &QLineEdit::editingFinished, this, changedNow);
    connect(voiceModel, &QLineEdit::editingFinished, this, changedNow);
    connect(chooseModel, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("The Voice Model's Folder"), voiceModel->text());
        if (!chosen.isEmpty()) {
            voiceModel->setText(chosen);
            fromControls();
        }
    });
    connect(mirror, &QComboBox::currentIndexChanged, this, changedNow);
    connect(countdown, &QDoubleSpinBox::valueChanged, this, changedNow);
    connect(speed, &QSpinBox::valueChanged, this, changedNow);
    connect(libraryFolder, &QLineEdit::editingFinished, this, changedNow);
    connect(textColour, &QPushButton::clicked, this,
            [this] { chooseColour(textColour, &PrompterSettings::textColour); });
    connect(backgroundColour, &QPushButton::clicked, this,
            [this] { chooseColour(backgroundColour, &PrompterSettings::backgroundColour); });
    connect(cueColour, &QPushButton::clicked, this,
            [this] { chooseColour(cueColour, &PrompterSettings::cueColour); });
    connect(chooseFolder, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, QStringLiteral("The Library's Folder"), libraryFolder->text());
        if (!chosen.isEmpty()) {
            libraryFolder->setText(chosen);
            fromControls();
        }
    });
    setSettings({});
}

void SettingsWindow::setSettings(const PrompterSettings& settings) {
    filling_ = true;
    settings_ = settings;
    const int screenIndex = screen->findData(settings.screenName);
    screen->setCurrentIndex(screenIndex >= 0 ? screenIndex
                            : settings.screen >= 0 && settings.screen + 1 < screen->count()
                                ? settings.screen + 1
                                : 0);
    fontFamily->setCurrentFont(settings.fontFamily.isEmpty() ? QGuiApplication::font()
                                                             : QFont(settings.fontFamily));
    fontSize->setValue(settings.fontSize);
    margin->setValue(settings.marginPercent);
    readingLine->setValue(static_cast<int>(std::lround(settings.readingLine * 100)));
    lineSpacing->setValue(settings.lineSpacing);
    followVoice->setChecked(settings.followVoice);
    microphone->setCurrentIndex(microphone->findData(settings.microphone));
    microphone->setEditText(settings.microphone);
    voiceModel->setText(settings.voiceModel);
    mirror->setCurrentIndex(mirror->findData(static_cast<int>(settings.mirror)));
    countdown->setValue(settings.countdown);
    speed->setValue(static_cast<int>(std::lround(settings.speed)));
    libraryFolder->setText(settings.libraryFolder);
    showColours();
    filling_ = false;
    PrompterSettings shown = settings_;
    shown.mirror = Mirror::none;  // the preview reads the right way round here
    shown.fontSize = std::max(12, settings_.fontSize / 3);
    shown.countdown = 0;
    preview_->setSettings(shown);
}

void SettingsWindow::setMicrophones(const QStringList& names, bool available) {
    const bool filling = std::exchange(filling_, true);
    microphone->clear();
    microphone->addItem(QStringLiteral("The system's default"), QString());
    for (const QString& name : names)
        microphone->addItem(name, name);
    microphone->setCurrentIndex(microphone->findData(settings_.microphone));
    microphone->setEditText(settings_.microphone);
    for (QWidget* control : {static_cast<QWidget*>(followVoice), static_cast<QWidget*>(microphone),
                             static_cast<QWidget*>(voiceModel)})
        control->setEnabled(available);
    followVoice->setToolTip(available ? QString()
                                      : QStringLiteral("This build cannot follow a voice (it was "
                                                       "built without PocketSphinx or Qt "
                                                       "Multimedia)."));
    filling_ = filling;
}

void SettingsWindow::fromControls() {
    if (filling_)
        return;
    PrompterSettings next = settings_;
    next.screenName = screen->currentData().toString();
    next.screen = next.screenName.isEmpty() ? -1 : screen->currentIndex() - 1;
    const QString family = fontFamily->currentFont().family();
    next.fontFamily = family == QGuiApplication::font().family() ? QString() : family;
    next.fontSize = fontSize->value();
    next.marginPercent = margin->value();
    next.readingLine = readingLine->value() / 100.0;
    // Kept as it was unless moved: the box shows one decimal of it.
    if (std::abs(lineSpacing->value() - settings_.lineSpacing) >= 0.05)
        next.lineSpacing = lineSpacing->value();
    next.followVoice = followVoice->isChecked();
    const int chosenMicrophone = microphone->findText(microphone->currentText());
    next.microphone = chosenMicrophone >= 0 ? microphone->itemData(chosenMicrophone).toString()
                                            : microphone->currentText().trimmed();
    const QString model = voiceModel->text().trimmed();
    next.voiceModel = QDir::isAbsolutePath(model) ? QDir::cleanPath(model) : QString();
    next.mirror = static_cast<Mirror>(mirror->currentData().toInt());
    next.countdown = countdown->value();
    next.speed = speed->value();
    const QString folder = libraryFolder->text().trimmed();
    // A folder the receiver's unit can be told: absolute, and no control characters.
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    next.libraryFolder = QDir::isAbsolutePath(folder) && !folder.contains(control)
                             ? QDir::cleanPath(folder)
                             : QString();
    if (next == settings_)
        return;
    setSettings(next);
    emit changed(settings_);
}

void SettingsWindow::chooseColour(QPushButton* button, QColor PrompterSettings::*member) {
    const QColor chosen = QColorDialog::getColor(settings_.*member, this, button->accessibleName());
    if (!chosen.isValid() || chosen == settings_.*member)
        return;
    PrompterSettings next = settings_;
    next.*member = chosen;
    setSettings(next);
    emit changed(settings_);
}

void SettingsWindow::showColours() {
    for (auto [button, colour] : {std::pair{textColour, settings_.textColour},
                                  std::pair{backgroundColour, settings_.backgroundColour},
                                  std::pair{cueColour, settings_.cueColour}}) {
        button->setText(colour.name());
        button->setStyleSheet(QStringLiteral("background: %1; color: %2;")
                                  .arg(colour.name(), colour.lightness() > 128
                                                          ? QStringLiteral("black")
                                                          : QStringLiteral("white")));
    }
}

}  // namespace prompter
