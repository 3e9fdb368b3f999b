#include "gui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include "common/program_dir.h"
#include "common/version.h"
#include "gui/radio_picture.h"
#include "ui/translate.h"
#include "common/text.h"

namespace lw::gui {
namespace {

QString Tr(const char* text) { return QString::fromStdString(Translate(text)); }
QString Tr(const std::string& text) { return QString::fromStdString(Translate(text)); }

QRect ToQRect(const SkinRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

QColor Colour(uint32_t rgb) { return QColor(int(rgb >> 16 & 0xFF), int(rgb >> 8 & 0xFF), int(rgb & 0xFF)); }

QColor Blend(QColor a, QColor b, float t) {
  return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t, a.greenF() + (b.greenF() - a.greenF()) * t,
                          a.blueF() + (b.blueF() - a.blueF()) * t);
}

// The status texts use a sans face; Chinese texts need a CJK face.
QStringList UiFamilies(const std::string& language) {
  if (language == kLanguageChinese) return {"Noto Sans CJK SC", "DejaVu Sans"};
  return {"DejaVu Sans", "Noto Sans CJK SC"};
}

// The skin's caption font is "宋体"; where that face is missing the CJK face stands in.
QFont CaptionFont() {
  QFont f;
  f.setFamilies({QString::fromUtf8("宋体"), "SimSun", "Noto Sans CJK SC", "DejaVu Sans"});
  f.setPixelSize(14);
  f.setWeight(QFont::Normal);
  return f;
}

constexpr const char* kStatusTexts[kStatusRows] = {TextKey("Radio Model"), TextKey("Boot Version:"),
                                                   TextKey("For Firmware Version:"), TextKey("Upgrade To:"),
                                                   TextKey("USB Port")};

// Status rows: 31 pixels each from y 70, the rules drawn by the skin between them.
QRect StatusRowRect(int row, int left, int right) { return QRect(left, 70 + 31 * row, right - left, 31); }

// The port selector draws its own chevron: a style sheet that colours a combo box drops the
// platform's arrow.
class PortCombo : public QComboBox {
 public:
  using QComboBox::QComboBox;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QComboBox::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text), 1.6,
                  Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF c(width() - 12, height() / 2.0 + 1);
    p.drawPolyline(QPolygonF({c + QPointF(-4, -2.5), c + QPointF(0, 1.5), c + QPointF(4, -2.5)}));
  }
};

}  // namespace

MainWindow::MainWindow(std::string home, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), home_(std::move(home)) {
  port_ = std::make_unique<QtWindowPort>(this);
  canvas_ = std::make_unique<QtSkinCanvas>([this] { SkinShown(); });
  auto timer = std::make_shared<QElapsedTimer>();
  timer->start();
  clock_ = [timer] { return int64_t(timer->elapsed()); };
  setMouseTracking(true);
  setAttribute(Qt::WA_DeleteOnClose, false);
  const SkinLayout& L = DefaultSkinLayout();
  setFixedSize(L.width, L.height);
  BuildWidgets();
}

MainWindow::~MainWindow() = default;

std::string MainWindow::SettingsPath() const { return JoinPath(ProgramDir(), kSettingsFileName); }

void MainWindow::Start() {
  StartupOptions options;
  options.homeOption = home_;
  options.singleInstance = false;
  options.promptForBackupFolder = false;
  Start(RunStartup(*port_, options));
}

void MainWindow::Start(StartupState state) {
  state_ = std::move(state);
  const ProgramSettings& settings = state_.settings;
  packageLanguage_ = {int(settings.selectLanguage), std::to_string(settings.selectLanguage)};
  canvas_->SetDevicePixelRatio(devicePixelRatioF());
  skin_.ApplyAtStart(int(settings.skin), ProgramDir(), *canvas_);
  pathField_->setText(QString::fromStdString(StartPackagePath(settings, ProgramDir())));
  chosenPath_ = pathField_->text();
  RefreshRestoreButton();
  ApplyTheme();
  RetranslateUi();
}

void MainWindow::BuildWidgets() {
  const SkinLayout& L = DefaultSkinLayout();
  for (int i = 0; i < kStatusRows; ++i) {
    statusLabels_[i] = new QLabel(this);
    statusLabels_[i]->setObjectName("statusLabel");
    statusLabels_[i]->setGeometry(StatusRowRect(i, 32, 184));
    if (i == int(StatusRow::UsbPort)) continue;
    statusValues_[i] = new QLabel(this);
    statusValues_[i]->setObjectName("statusValue");
    statusValues_[i]->setGeometry(StatusRowRect(i, 188, L.radioPicture.left - 16));
    statusValues_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  portSelector_ = new PortCombo(this);
  portSelector_->setGeometry(StatusRowRect(int(StatusRow::UsbPort), 188, 400).adjusted(0, 4, 0, -3));

  radioPicture_ = new RadioPicture(this);
  radioPicture_->setGeometry(ToQRect(L.radioPicture).adjusted(2, 2, -2, -2));

  pathField_ = new QLineEdit(this);
  pathField_->setGeometry(ToQRect(L.pathField));
  // A path typed into the field counts once it is complete (Enter, or the focus moves on).
  connect(pathField_, &QLineEdit::editingFinished, this, [this] {
    if (pathField_->text() != chosenPath_) ChoosePackagePath(pathField_->text().trimmed());
  });
  browseButton_ = new QToolButton(this);
  browseButton_->setGeometry(ToQRect(L.browseButton));
  browseButton_->setText(QString::fromUtf8("…"));
  connect(browseButton_, &QToolButton::clicked, this, [this] { BrowsePackage(); });

  const QRect well = ToQRect(L.indicators);
  // Their texts are set (translated) by RetranslateUi.
  headIndicator_ = new QLabel(this);
  cpsIndicator_ = new QLabel(this);
  headIndicator_->setObjectName("indicator");
  cpsIndicator_->setObjectName("indicator");
  headIndicator_->setGeometry(well.left() + 8, well.top() + 5, 66, well.height() - 10);
  cpsIndicator_->setGeometry(well.left() + 80, well.top() + 5, 66, well.height() - 10);
  for (QLabel* l : {headIndicator_, cpsIndicator_}) {
    l->setAlignment(Qt::AlignCenter);
    l->hide();
  }

  progress_ = new QProgressBar(this);
  progress_->setGeometry(ToQRect(L.progressBar).adjusted(2, 2, -2, -2));
  progress_->setRange(0, 1500);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  logList_ = new QListWidget(this);
  logList_->setGeometry(ToQRect(L.logList).adjusted(6, 4, -4, -4));
  logList_->setFrameShape(QFrame::NoFrame);
  logList_->setSelectionMode(QAbstractItemView::NoSelection);
  logList_->setFocusPolicy(Qt::NoFocus);
  // One line of text each: with uniform sizes the view lays out a line in constant time instead
  // of measuring every line again at each new one.
  logList_->setUniformItemSizes(true);

  const QRect footer = ToQRect(L.footer);
  contents_ = new QLabel(this);
  contents_->setObjectName("footer");
  contents_->setGeometry(footer.left(), footer.top(), footer.width() - 130, footer.height());
  version_ = new QLabel(QString::fromStdString(ProgramVersionText()), this);
  version_->setObjectName("footer");
  version_->setGeometry(footer.right() - 130, footer.top(), 130, footer.height());
  version_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void MainWindow::ApplyTheme() {
  const SkinTheme& t = canvas_->HasPictures() ? canvas_->Theme() : SkinTheme{};
  const QColor text = Colour(t.text), label = Colour(t.label), field = Colour(t.field);
  const QColor accent = Colour(t.accent), panel = Colour(t.panel);
  const QColor border = Blend(field, label, 0.45f);
  // The progress bar keeps the program's own four colours in every skin (gold to orange fill,
  // blue text, white groove), so an operator sees the same bar whatever the skin.
  const QString css = QString(R"(
    QLabel { color: %1; background: transparent; }
    QLabel#statusLabel { color: %2; }
    QLabel#statusValue { color: %1; font-weight: bold; }
    QLabel#footer { color: %2; }
    QLabel#indicator { color: %4; background: %5; border-radius: 4px; font-weight: bold; font-size: 10px; }
    QLineEdit, QComboBox { background: %3; color: %1; border: 1px solid %6; border-radius: 4px; padding: 0 6px; }
    QLineEdit:focus, QComboBox:focus { border-color: %5; }
    QLineEdit:disabled, QComboBox:disabled { color: %2; }
    QComboBox::drop-down { border: none; width: 22px; }
    QComboBox::down-arrow { image: none; }
    QComboBox QAbstractItemView { background: %3; color: %1; selection-background-color: %5; }
    QToolButton { background: %3; color: %1; border: 1px solid %6; border-radius: 4px; font-weight: bold; }
    QToolButton:hover { border-color: %5; }
    QToolButton:pressed { background: %6; }
    QProgressBar { background: #FFFFFF; border: none; border-radius: 3px; color: #0063C6; text-align: center; }
    QProgressBar::chunk { border-radius: 3px; background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #FFD700, stop:1 #FF6820); }
    QListWidget { background: transparent; color: %1; border: none; }
    QScrollBar:vertical { background: transparent; width: 8px; }
    QScrollBar::handle:vertical { background: %6; border-radius: 4px; min-height: 20px; }
    QScrollBar::add-line, QScrollBar::sub-line { height: 0; }
    QToolTip { color: #1E2A38; background: #FFFFE1; border: 1px solid #B4C2D4; }
  )")
                          .arg(text.name(), label.name(), field.name(), panel.name(), accent.name(), border.name());
  setStyleSheet(css);
  radioPicture_->SetColours(Blend(text, panel, 0.15f), accent);
}

void MainWindow::SkinShown() {
  const QSize size = canvas_->WindowSize();
  setFixedSize(size);
  setMask(canvas_->Region());
  ApplyTheme();
  update();
}

SkinState::SwitchResult MainWindow::ChooseSkin(int skin) {
  canvas_->SetDevicePixelRatio(devicePixelRatioF());
  SkinState::SwitchResult result = skin_.Switch(skin, ProgramDir(), *canvas_);
  if (result == SkinState::SwitchResult::Switched) {
    state_.settings.skin = uint32_t(skin);
    update();
  }
  return result;
}

void MainWindow::SetButtonCaption(size_t index, const std::string& caption) {
  skin_.Button(index).caption = caption;
  update(ToQRect(skin_.Buttons()[index].rect));
}

void MainWindow::SetButtonEnabled(size_t index, bool enabled) {
  skin_.Button(index).enabled = enabled;
  update(ToQRect(skin_.Buttons()[index].rect));
}

void MainWindow::SetButtonVisible(size_t index, bool visible) {
  skin_.Button(index).visible = visible;
  update(ToQRect(skin_.Buttons()[index].rect));
}

void MainWindow::RefreshRestoreButton() {
  const QDir dir(QString::fromStdString(state_.backupDirectory));
  const bool any = !dir.entryList({"*.rcd"}, QDir::Files).isEmpty();
  if (any) SetButtonCaption(kSecondButton, kButtonRestore);
  SetButtonVisible(kSecondButton, any);
}

// --- Pop-up menu ---------------------------------------------------------------------------

std::unique_ptr<QMenu> MainWindow::BuildMenu() {
  MenuState state{CurrentLanguage(), state_.settings.playSound, skin_.Current(), packageLanguage_.value};
  auto menu = std::make_unique<QMenu>(this);
  std::function<void(QMenu*, const std::vector<MenuEntry>&)> fill = [&](QMenu* m, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& e : entries) {
      switch (e.kind) {
        case MenuEntry::Kind::Separator: m->addSeparator(); break;
        case MenuEntry::Kind::SubMenu: fill(m->addMenu(Tr(e.caption)), e.children); break;
        case MenuEntry::Kind::Item: {
          QAction* a = m->addAction(Tr(e.caption));
          a->setData(e.id);
          a->setCheckable(e.checked);
          a->setChecked(e.checked);
          if (e.id == menu_id::kForRadio) a->setEnabled(bool(onForRadio));
          // The upgrade writes its backups to the folder it started with.
          if (e.id == menu_id::kBackupPath) a->setEnabled(controlsEnabled_);
          break;
        }
      }
    }
  };
  fill(menu.get(), BuildPopupMenu(state));
  return menu;
}

void MainWindow::RunMenuCommand(int id) {
  const MenuCommand cmd = DecodeMenuCommand(id);
  switch (cmd.action) {
    case MenuAction::InterfaceLanguage: {
      const char* language = cmd.value == 1 ? kLanguageChinese : kLanguageEnglish;
      if (SwitchInterfaceLanguage(language, ProgramDir())) {
        state_.settings.language = language;
        RetranslateUi();
      }
      break;
    }
    case MenuAction::PlaySound: TogglePlaySound(state_.settings.playSound, SettingsPath()); break;
    case MenuAction::Skin: ChooseSkin(cmd.value); break;
    case MenuAction::ForRadio:
      if (onForRadio) onForRadio();
      break;
    case MenuAction::PackageLanguage:
      if (SetPackageLanguage(cmd.value, CurrentLanguage(), SettingsPath(), packageLanguage_, *port_) ==
          PackageLanguageResult::Changed) {
        state_.settings.selectLanguage = uint32_t(packageLanguage_.value);
        state_.settings.selectLanguageText = packageLanguage_.text;
        RefreshRestoreButton();
      }
      break;
    case MenuAction::BackupPath: ChooseBackupFolder(); break;
    case MenuAction::About: ShowAbout(); break;
    case MenuAction::Exit: close(); break;
    case MenuAction::None: break;
  }
}

void MainWindow::ChooseBackupFolder() {
  std::optional<std::string> folder = port_->ChooseFolder(Translate("Please select the backup file storage path!"));
  if (!folder) return;
  std::optional<std::string> dir = StoreBackupFolder(*folder, SettingsPath());
  if (!dir) return;
  state_.backupDirectory = *dir;
  state_.settings.restoreLoadFlag = true;
  state_.settings.restoreLoad = *dir;
  RefreshRestoreButton();
  if (onBackupFolderChanged) onBackupFolderChanged(*dir);
}

void MainWindow::ShowAbout() {
  QDialog box(this);
  box.setWindowTitle(Tr("About"));
  auto* layout = new QVBoxLayout(&box);
  auto* product = new QLabel(Tr("DMR Loftwise Software"), &box);
  QFont bold = product->font();
  bold.setBold(true);
  bold.setPixelSize(15);
  product->setFont(bold);
  layout->addWidget(product);
  layout->addWidget(new QLabel(Tr(state_.settings.version), &box));
  layout->addWidget(new QLabel(QString::fromStdString(state_.settings.version2), &box));
  layout->addWidget(new QLabel(QString::fromStdString(ProgramVersionText()), &box));
  auto* buttons = new QDialogButtonBox(&box);
  buttons->addButton(Tr("OK"), QDialogButtonBox::AcceptRole);
  connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  layout->addWidget(buttons);
  box.setStyleSheet("QLabel { color: #1E2A38; }");
  box.exec();
}

// --- Status area and controls --------------------------------------------------------------

void MainWindow::SetStatus(StatusRow row, const QString& value) {
  QLabel* l = statusValues_[int(row)];
  if (!l) return;
  const QFontMetrics fm(l->font());
  l->setText(fm.elidedText(value, Qt::ElideRight, l->width()));
  l->setToolTip(value);
  l->setProperty("fullText", value);
}

QString MainWindow::Status(StatusRow row) const {
  QLabel* l = statusValues_[int(row)];
  return l ? l->property("fullText").toString() : QString();
}

void MainWindow::SetRadioType(int type) { radioPicture_->SetRadioType(type); }

void MainWindow::SetIndicators(bool headInformation, bool cpsData) {
  headIndicator_->setVisible(headInformation);
  cpsIndicator_->setVisible(cpsData);
}

void MainWindow::SetContentsText(const QString& text) {
  const QFontMetrics fm(contents_->font());
  contents_->setText(fm.elidedText(text, Qt::ElideMiddle, contents_->width()));
  contents_->setToolTip(text);
}

void MainWindow::AppendLog(const QString& line) {
  // The oldest lines go: a station left running for days would otherwise grow the list (and
  // the memory behind it) without end.
  while (logList_->count() >= kLogLinesKept) delete logList_->takeItem(0);
  logList_->addItem("[" + QTime::currentTime().toString("HH:mm:ss") + "] " + line);
  if (logList_->count() > 6) logList_->scrollToBottom();
}

void MainWindow::SetControlsEnabled(bool enabled) {
  controlsEnabled_ = enabled;
  SetButtonEnabled(kMainButton, enabled);
  SetButtonEnabled(kSecondButton, enabled);
  pathField_->setEnabled(enabled);
  browseButton_->setEnabled(enabled);
  portSelector_->setEnabled(enabled);
  if (!enabled) return;
  // The bar is back at 0: the last phase's name no longer describes it.
  progress_->setTextVisible(false);
  // An operation ended: it may have written or used up backups.
  SetButtonCaption(kMainButton, "Upgrade");
  RefreshRestoreButton();
  if (onIdle) onIdle();
}

void MainWindow::ShowUpgradeTarget(const std::string& packageTarget) {
  packageTarget_ = packageTarget;
  QLabel* row = statusValues_[int(StatusRow::UpgradeTo)];
  if (!packageTarget.empty()) {
    SetStatus(StatusRow::UpgradeTo, QString::fromStdString(packageTarget));
    return;
  }
  const QString target = UpgradeTargetText();
  SetStatus(StatusRow::UpgradeTo, target.section('\n', 0, 0));
  row->setToolTip(target.section('\n', 1));
}

void MainWindow::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

QString MainWindow::UpgradeTargetText() const {
  // The row shows the target versions; its tool tip groups the display pairs by target:
  // "A5.00.09.000 (Portable, Mobile)".
  std::vector<std::pair<std::string, QStringList>> groups;
  for (const DisplayPair& pair : state_.upgradeRules.displayPairs) {
    auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == pair.second; });
    if (it == groups.end()) {
      groups.push_back({pair.second, {}});
      it = groups.end() - 1;
    }
    it->second << Tr(pair.first);
  }
  QStringList targets, detail;
  for (const auto& [target, labels] : groups) {
    targets << QString::fromStdString(target);
    detail << QString::fromStdString(target) + " (" + labels.join(", ") + ")";
  }
  if (targets.isEmpty() && !state_.settings.upgradeTo.empty()) {
    targets << QString::fromStdString(state_.settings.upgradeTo);
    detail = targets;
  }
  return targets.join(" / ") + "\n" + detail.join("\n");
}

void MainWindow::RetranslateUi() {
  const std::string language = CurrentLanguage();
  QFont ui;
  ui.setFamilies(UiFamilies(language));
  ui.setPixelSize(12);
  setFont(ui);
  setWindowTitle(Tr("Loftwise"));
  for (int i = 0; i < kStatusRows; ++i) statusLabels_[i]->setText(Tr(kStatusTexts[i]));
  ShowUpgradeTarget(packageTarget_);
  pathField_->setPlaceholderText(Tr("Browse and open upgrade file"));
  browseButton_->setToolTip(Tr("Browse and open upgrade file"));
  pathField_->setToolTip(pathField_->text());
  portSelector_->setToolTip(Tr("USB Port"));
  headIndicator_->setText(Tr("HEAD"));
  cpsIndicator_->setText(Tr("CPS"));
  headIndicator_->setToolTip(Tr("Save Head Information"));
  cpsIndicator_->setToolTip(Tr("Save Cps Data"));
  update();
  if (onRetranslate) onRetranslate();
}

void MainWindow::BrowsePackage() {
  const QString start = QFileInfo(pathField_->text()).absolutePath();
  const QString path = QFileDialog::getOpenFileName(this, Tr("Browse and open upgrade file"), start, "*.fud");
  if (path.isEmpty()) return;
  ChoosePackagePath(path);
}

void MainWindow::ChoosePackagePath(const QString& path) {
  pathField_->setText(path);
  pathField_->setToolTip(path);
  chosenPath_ = path;
  if (onPackageChosen) onPackageChosen(path.toStdString());
}

// --- Painting and the mouse ----------------------------------------------------------------

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const std::vector<SkinButton>& buttons = skin_.Buttons();
  const SkinTheme theme = canvas_->HasPictures() ? canvas_->Theme() : SkinTheme{};
  if (canvas_->HasPictures()) {
    auto cut = [&](const QImage& image, const QRect& r) {
      const qreal s = image.devicePixelRatio();
      p.drawImage(QRectF(r), image, QRectF(r.x() * s, r.y() * s, r.width() * s, r.height() * s));
    };
    cut(canvas_->Picture(SkinPicture::Normal), rect());
    for (size_t i = 0; i < buttons.size(); ++i) {
      SkinPicture pic = ButtonPicture(buttons[i], hovered_ == int(i), pressed_ == int(i));
      cut(canvas_->Picture(pic), ToQRect(buttons[i].rect));
    }
  } else {
    // No skin could be applied: a plain look, so that the window stays usable.
    p.fillRect(rect(), Colour(theme.panel));
    p.fillRect(QRect(0, 0, width(), DefaultSkinLayout().titleBar.bottom), QColor(0x1A, 0x33, 0x54));
    for (size_t i = 0; i < buttons.size(); ++i) {
      if (!buttons[i].visible) continue;
      QColor face = buttons[i].enabled ? Colour(theme.accent) : QColor(0xC2, 0xC8, 0xD1);
      if (pressed_ == int(i)) face = face.darker(120);
      else if (hovered_ == int(i)) face = face.lighter(115);
      p.setPen(Qt::NoPen);
      p.setBrush(face);
      p.drawRoundedRect(ToQRect(buttons[i].rect), 4, 4);
      if (i < kMainButton) {
        p.setPen(QPen(Qt::white, 1.6));
        QRect r = ToQRect(buttons[i].rect).adjusted(5, 5, -5, -5);
        if (i == 0) p.drawLine(r.bottomLeft(), r.bottomRight());
        else { p.drawLine(r.topLeft(), r.bottomRight()); p.drawLine(r.bottomLeft(), r.topRight()); }
      }
    }
  }

  // Title and captions are text, drawn here so that they follow the interface language.
  QFont title = font();
  title.setPixelSize(15);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRect(52, 0, 400, DefaultSkinLayout().titleBar.bottom), Qt::AlignVCenter | Qt::AlignLeft, Tr("Loftwise"));

  p.setFont(CaptionFont());
  const CaptionOffset offset = CaptionOffsetOf(CurrentLanguage());
  for (size_t i = 0; i < buttons.size(); ++i) {
    const SkinButton& b = buttons[i];
    if (!b.drawsCaption || !b.visible) continue;
    QRect r = ToQRect(b.rect).translated(offset.x, offset.y);
    if (pressed_ == int(i) && hovered_ == int(i)) r.translate(1, 1);
    p.setPen(b.enabled ? QColor(Qt::white) : QColor(0x7A, 0x80, 0x8A));
    // Centre on ascent and descent rather than the line box: the CJK faces carry a tall line
    // gap that would push the caption down before the offset is even applied. The face of a
    // raised button is two pixels shorter than its rectangle (the shadow below it).
    const QString caption = Tr(b.caption);
    const QFontMetricsF fm(p.font());
    const qreal baseline = r.top() + (r.height() - 2) / 2.0 + (fm.ascent() - fm.descent()) / 2.0;
    p.drawText(QPointF(r.left() + (r.width() - fm.horizontalAdvance(caption)) / 2.0, baseline), caption);
  }
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  const QPoint pos = event->position().toPoint();
  const int index = ButtonAt(skin_.Buttons(), pos.x(), pos.y());
  if (index >= 0) {
    if (skin_.Buttons()[size_t(index)].enabled) {
      pressed_ = index;
      hovered_ = index;
      update(ToQRect(skin_.Buttons()[size_t(index)].rect));
    }
    return;
  }
  // Anywhere else the window moves, as if its title bar had been pressed.
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_) {
    move(event->globalPosition().toPoint() - dragOffset_);
    return;
  }
  const QPoint pos = event->position().toPoint();
  const int index = ButtonAt(skin_.Buttons(), pos.x(), pos.y());
  if (index != hovered_) {
    hovered_ = index;
    update();
  }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  dragging_ = false;
  if (pressed_ < 0) return;
  const int was = pressed_;
  pressed_ = -1;
  update();
  const QPoint pos = event->position().toPoint();
  if (ButtonAt(skin_.Buttons(), pos.x(), pos.y()) != was) return;
  if (!skin_.Buttons()[size_t(was)].enabled) return;
  if (!debouncer_.Accept(clock_())) return;
  ActivateButton(size_t(was));
}

void MainWindow::leaveEvent(QEvent*) {
  if (hovered_ >= 0) {
    hovered_ = -1;
    update();
  }
}

void MainWindow::ActivateButton(size_t index) {
  const std::string name = skin_.Buttons()[index].name;
  emit buttonActivated(QString::fromStdString(name));
  if (name == kButtonMin) {
    showMinimized();
  } else if (name == kButtonExit) {
    close();
  } else if (name == kButtonBurn) {
    if (onUpgrade) onUpgrade();
  } else if (name == kButtonRestore) {
    if (skin_.Buttons()[kSecondButton].enabled && onRestore) onRestore();
  }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = BuildMenu();
  QAction* chosen = menu->exec(event->globalPos());
  if (chosen) RunMenuCommand(chosen->data().toInt());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (onExitRequested && !onExitRequested()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace lw::gui
