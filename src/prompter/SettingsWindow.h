// SettingsWindow: every setting of the prompter in one window, each shown live in a preview
// prompt beside the controls: the screen to prompt on (by name), the font family and size, the
// margins, the line spacing, the reading line, the text, background and cue colours, mirroring,
// the countdown, the default speed, the library's folder, and voice-following (on at each
// prompt's start or not, the microphone by name, the voice model's folder).
//
// Each change is announced at once (changed()), so the running prompt and the saved settings
// follow as the person moves a control; the window itself keeps nothing.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "prompter/PromptView.h"
#include "prompter/PrompterSettings.h"

namespace prompter {

class SettingsWindow : public QDialog {
    Q_OBJECT

  public:
    explicit SettingsWindow(QWidget* parent = nullptr);

    // Shows `settings` in the controls and the preview (announcing nothing).
    void setSettings(const PrompterSettings& settings);
    [[nodiscard]] const PrompterSettings& settings() const { return settings_; }
    [[nodiscard]] PromptView* preview() const { return preview_; }
    // The microphones there are, by name, to choose from; `available` false: this build cannot
    // follow a voice, and the voice's controls say so.
    void setMicrophones(const QStringList& names, bool available = true);

    // The controls, for tests and for accessibility checks.
    QComboBox* screen;
    QFontComboBox* fontFamily;
    QSpinBox* fontSize;
    QSpinBox* margin;
    QSpinBox* readingLine;
    QDoubleSpinBox* lineSpacing;
    QPushButton* textColour;
    QPushButton* backgroundColour;
    QPushButton* cueColour;
    QComboBox* mirror;
    QDoubleSpinBox* countdown;
    QSpinBox* speed;
    QLineEdit* libraryFolder;
    QCheckBox* followVoice;
    QComboBox* microphone;
    QLineEdit* voiceModel;

    // A row of another room's settings (the remote's switch), under the others; that room
    // keeps and saves its own values.
    void addRow(const QString& label, QWidget* row) { form_->addRow(label, row); }

  signals:
    void changed(const prompter::PrompterSettings& settings);

  private:
    void fromControls();
    void chooseColour(QPushButton* button, QColor PrompterSettings::*member);
    void showColours();

    PrompterSettings settings_;
    PromptView* preview_;
    bool filling_ = false;
    QFormLayout* form_ = nullptr;
};

}  // namespace prompter
