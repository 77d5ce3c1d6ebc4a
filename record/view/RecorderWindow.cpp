#include "record/view/RecorderWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "record/Numbers.h"
#include "record/view/TrendChart.h"

namespace record {
namespace {

// The window's texts are written in Russian and shown in the language the
// program installed (QCoreApplication's translators).
// Texts are marked QT_TRANSLATE_NOOP("recorder", ...) where they stand.
QString Tr(const char* text) { return QCoreApplication::translate("recorder", text); }

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A value as the display of its resolution shows it; the mean one digit
// finer, since it is finer than any one reading.
QString Value(double value, double step) { return Text(FormatToStep(value, step)); }

QString Duration(double seconds) {
  const auto whole = static_cast<long long>(std::floor(seconds));
  return QStringLiteral("%1:%2:%3")
      .arg(whole / 3600)
      .arg(whole / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QStringList Columns() {
  QStringList columns;
  for (const char* column :
       {QT_TRANSLATE_NOOP("recorder", "Функция"), QT_TRANSLATE_NOOP("recorder", "Ед."),
        QT_TRANSLATE_NOOP("recorder", "N"), QT_TRANSLATE_NOOP("recorder", "Минимум"),
        QT_TRANSLATE_NOOP("recorder", "Максимум"), QT_TRANSLATE_NOOP("recorder", "Среднее"),
        QT_TRANSLATE_NOOP("recorder", "СКО"), QT_TRANSLATE_NOOP("recorder", "Последнее"),
        QT_TRANSLATE_NOOP("recorder", "Время"), QT_TRANSLATE_NOOP("recorder", "Перегрузки"),
        QT_TRANSLATE_NOOP("recorder", "Нечитаемые")})
    columns << Tr(column);
  return columns;
}

// The file `name` in `folder` (the current folder when empty).
QString InFolder(const std::string& folder, const char* name) {
  return folder.empty() ? QString::fromLatin1(name) : QDir(Text(folder)).filePath(QString::fromLatin1(name));
}

// The writer's messages (record/CsvWriter.cpp) are sentences in Russian
// around a file name and the system's text; their phrases are translated
// where they stand.
QString Message(const std::string& message) {
  QString text = Text(message);
  for (const char* phrase : {QT_TRANSLATE_NOOP("recorder", "Запись остановлена: не удалось записать в файл"),
                             QT_TRANSLATE_NOOP("recorder", "Запись остановлена: файл не сохранён на диске"),
                             QT_TRANSLATE_NOOP("recorder", "Не удалось открыть файл записи"),
                             QT_TRANSLATE_NOOP("recorder", "Запись остановлена: файл"),
                             QT_TRANSLATE_NOOP("recorder", "удалён или заменён (или удалена его папка)")})
    text.replace(QString::fromUtf8(phrase), Tr(phrase));
  return text;
}

std::string FolderOf(const QString& path) { return QFileInfo(path).absolutePath().toStdString(); }

}  // namespace

class RecorderWindow::Impl {
 public:
  explicit Impl(Session& session) : session_(session) {
    window_.setWindowTitle(Tr(QT_TRANSLATE_NOOP("recorder", "Запись")));
    window_.resize(800, 540);
    auto* buttons = new QHBoxLayout();
    start_ = new QPushButton(Tr(QT_TRANSLATE_NOOP("recorder", "Начать запись…")));
    stop_ = new QPushButton(Tr(QT_TRANSLATE_NOOP("recorder", "Остановить")));
    pause_ = new QCheckBox(Tr(QT_TRANSLATE_NOOP("recorder", "Пауза")));
    autoscale_ = new QCheckBox(Tr(QT_TRANSLATE_NOOP("recorder", "Автомасштаб")));
    autoscale_->setChecked(true);
    auto* png = new QPushButton(Tr(QT_TRANSLATE_NOOP("recorder", "Сохранить PNG…")));
    auto* clear = new QPushButton(Tr(QT_TRANSLATE_NOOP("recorder", "Сбросить статистику")));
    trendChoice_ = new QComboBox();
    trendChoice_->setMinimumContentsLength(8);
    for (QWidget* w :
         {static_cast<QWidget*>(start_), static_cast<QWidget*>(stop_), static_cast<QWidget*>(pause_),
          static_cast<QWidget*>(autoscale_), static_cast<QWidget*>(png), static_cast<QWidget*>(clear),
          static_cast<QWidget*>(trendChoice_)})
      buttons->addWidget(w);
    buttons->addStretch();
    state_ = new QLabel();
    chart_ = new TrendChart();
    chart_->setMinimumHeight(280);
    const QStringList columns = Columns();
    table_ = new QTableWidget(0, static_cast<int>(columns.size()));
    table_->setHorizontalHeaderLabels(columns);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setMaximumHeight(120);
    auto* layout = new QVBoxLayout(&window_);
    layout->addLayout(buttons);
    layout->addWidget(state_);
    layout->addWidget(chart_, 1);
    layout->addWidget(table_);

    QObject::connect(start_, &QPushButton::clicked, [this] { AskAndStart(); });
    QObject::connect(stop_, &QPushButton::clicked, [this] { Stop(); });
    QObject::connect(pause_, &QCheckBox::toggled, [this](bool on) { chart_->SetPaused(on); });
    QObject::connect(autoscale_, &QCheckBox::toggled, [this](bool on) { chart_->SetAutoscale(on); });
    chart_->OnAutoscaleChanged = [this](bool on) {
      const QSignalBlocker quiet(autoscale_);
      autoscale_->setChecked(on);
    };
    QObject::connect(trendChoice_, &QComboBox::activated, [this](int index) { ChooseTrend(index); });
    QObject::connect(png, &QPushButton::clicked, [this] { AskAndSavePng(); });
    QObject::connect(clear, &QPushButton::clicked, [this] { Clear(); });
    // A failing disk must show even when no reading comes to notice it.
    QObject::connect(&poll_, &QTimer::timeout, [this] { CheckRecording(); });
    poll_.start(500);
    ShowState();
  }

  void Update() {
    ListTrends();
    const Trend* current = session_.CurrentTrend();
    // A new function or unit brings its trend into view; a trend picked by
    // hand stays until then.
    if (current != lastCurrent_) {
      lastCurrent_ = current;
      following_ = true;
    }
    const Trend* shown = following_ ? current : chart_->CurrentTrend();
    if (shown != chart_->CurrentTrend())
      chart_->SetTrend(shown);
    else
      chart_->DataChanged();
    SelectShownTrend();
    if (window_.isVisible()) FillTable();
    CheckRecording();
  }

  // One entry per trend of the session, in the order they appeared.
  void ListTrends() {
    const auto& trends = session_.Trends();
    for (auto i = static_cast<std::size_t>(trendChoice_->count()); i < trends.size(); ++i) {
      const std::string_view name = FunctionName(trends[i].function);
      trendChoice_->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) +
                            QStringLiteral(", ") + QString::fromStdString(trends[i].unit));
    }
  }

  void SelectShownTrend() {
    const auto& trends = session_.Trends();
    for (std::size_t i = 0; i < trends.size(); ++i)
      if (&trends[i] == chart_->CurrentTrend()) trendChoice_->setCurrentIndex(static_cast<int>(i));
  }

  void ChooseTrend(int index) {
    const auto& trends = session_.Trends();
    if (index < 0 || static_cast<std::size_t>(index) >= trends.size()) return;
    const Trend* picked = &trends[static_cast<std::size_t>(index)];
    following_ = picked == session_.CurrentTrend();
    chart_->SetTrend(picked);
  }

  void AskAndStart() {
    const QString path = QFileDialog::getSaveFileName(
        &window_, Tr(QT_TRANSLATE_NOOP("recorder", "Запись в файл")), InFolder(recordFolder_, "tesmar.csv"),
        QStringLiteral("CSV (*.csv);;") + Tr(QT_TRANSLATE_NOOP("recorder", "Все файлы (*)")));
    if (!path.isEmpty()) Start(path.toStdString());
  }

  bool Start(const std::string& path) {
    std::string error;
    if (session_.StartRecording(path, error) && path != "-")
      recordFolder_ = FolderOf(Text(path));
    else if (!session_.Recording())
      Report(Message(error));
    ShowState();
    return session_.Recording();
  }

  void Stop() {
    session_.StopRecording();
    ShowState();
  }

  void Clear() {
    session_.ClearStatistics();
    FillTable();
  }

  void AskAndSavePng() {
    const QString path =
        QFileDialog::getSaveFileName(&window_, Tr(QT_TRANSLATE_NOOP("recorder", "Сохранить график")),
                                     InFolder(chartFolder_, "tesmar.png"), QStringLiteral("PNG (*.png)"));
    if (path.isEmpty()) return;
    chartFolder_ = FolderOf(path);
    if (!chart_->SavePng(path))
      Report(Tr(QT_TRANSLATE_NOOP("recorder", "Не удалось сохранить \"%1\"")).arg(path));
  }

  void CheckRecording() {
    session_.Poll();
    if (auto failure = session_.TakeFailure()) Report(Message(*failure));
    ShowState();
  }

  void Report(const QString& message) {
    lastMessage_ = message;
    // Not modal: the panel's cycle goes on while the box is open.
    auto* box = new QMessageBox(QMessageBox::Warning, Tr(QT_TRANSLATE_NOOP("recorder", "Запись")), message,
                                QMessageBox::Ok, &window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    ShowState();
  }

  void ShowState() {
    QString text;
    if (session_.Recording())
      text = Tr(QT_TRANSLATE_NOOP("recorder", "Идёт запись в \"%1\": строк %2"))
                 .arg(QString::fromStdString(session_.RecordingPath()))
                 .arg(session_.RowsQueued());
    else if (!lastMessage_.isEmpty())
      text = lastMessage_;
    else
      text = Tr(QT_TRANSLATE_NOOP("recorder", "Запись не ведётся"));
    state_->setText(text);
    start_->setEnabled(!session_.Recording());
    stop_->setEnabled(session_.Recording());
  }

  void FillTable() {
    const auto& summaries = session_.Stats().Summaries();
    table_->setRowCount(static_cast<int>(summaries.size()));
    int row = 0;
    for (const Summary& s : summaries) {
      const bool values = s.count > 0;
      const QStringList cells{QString::fromUtf8(FunctionName(s.function).data(),
                                                static_cast<qsizetype>(FunctionName(s.function).size())),
                              QString::fromStdString(s.unit),
                              QString::number(s.count),
                              values ? Value(s.minimum, s.step) : QString(),
                              values ? Value(s.maximum, s.step) : QString(),
                              values ? Value(s.mean, s.step / 10) : QString(),
                              s.count > 1 ? Text(FormatSi(s.StandardDeviation(), s.unit)) : QString(),
                              values ? Value(s.last, s.step) : QString(),
                              Duration(s.Span()),
                              QString::number(s.overloads),
                              QString::number(s.unreadable)};
      for (int c = 0; c < cells.size(); ++c) {
        if (QTableWidgetItem* item = table_->item(row, c))
          item->setText(cells[c]);
        else
          table_->setItem(row, c, new QTableWidgetItem(cells[c]));
      }
      ++row;
    }
  }

  Session& session_;
  QWidget window_;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QCheckBox* pause_ = nullptr;
  QCheckBox* autoscale_ = nullptr;
  QComboBox* trendChoice_ = nullptr;
  const Trend* lastCurrent_ = nullptr;
  bool following_ = true;  // the chart shows the latest reading's trend
  QLabel* state_ = nullptr;
  TrendChart* chart_ = nullptr;
  QTableWidget* table_ = nullptr;
  QTimer poll_;
  QString lastMessage_;
  std::string recordFolder_;  // where the file dialogs start
  std::string chartFolder_;
};

RecorderWindow::RecorderWindow(Session& session) : impl_(std::make_unique<Impl>(session)) {}
RecorderWindow::~RecorderWindow() = default;

void RecorderWindow::Show() {
  impl_->FillTable();
  impl_->window_.show();
  impl_->window_.raise();
}

// The place asked for, moved up and left as far as needed to keep the
// whole window on the screen it lands on (a small screen under the panel).
void RecorderWindow::MoveTo(int left, int top) {
  QWidget& window = impl_->window_;
  const QScreen* screen = QGuiApplication::screenAt(QPoint(left, top));
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const QRect room = screen->availableGeometry();
    left = std::max(room.left(), std::min(left, room.right() + 1 - window.frameGeometry().width()));
    top = std::max(room.top(), std::min(top, room.bottom() + 1 - window.frameGeometry().height()));
  }
  window.move(left, top);
}

int RecorderWindow::Left() const { return impl_->window_.x(); }
int RecorderWindow::Top() const { return impl_->window_.y(); }

bool RecorderWindow::Visible() const { return impl_->window_.isVisible(); }
void RecorderWindow::Update() { impl_->Update(); }
void RecorderWindow::AskAndStartRecording() { impl_->AskAndStart(); }
bool RecorderWindow::StartRecording(const std::string& path) { return impl_->Start(path); }
void RecorderWindow::StopRecording() { impl_->Stop(); }
void RecorderWindow::ClearStatistics() { impl_->Clear(); }

bool RecorderWindow::SaveImage(const std::string& path) {
  impl_->FillTable();
  return impl_->window_.grab().save(QString::fromStdString(path), "PNG");
}

bool RecorderWindow::SaveChart(const std::string& path) {
  return impl_->chart_->SavePng(QString::fromStdString(path));
}

std::string RecorderWindow::StateText() const { return impl_->state_->text().toStdString(); }
void RecorderWindow::ChooseTrend(int index) { impl_->ChooseTrend(index); }

std::string RecorderWindow::ChartTrend() const {
  const Trend* trend = impl_->chart_->CurrentTrend();
  return trend == nullptr ? std::string() : std::string(1, trend->function) + " " + trend->unit;
}

void RecorderWindow::SetRecordFolder(const std::string& folder) { impl_->recordFolder_ = folder; }
std::string RecorderWindow::RecordFolder() const { return impl_->recordFolder_; }
void RecorderWindow::SetChartFolder(const std::string& folder) { impl_->chartFolder_ = folder; }
std::string RecorderWindow::ChartFolder() const { return impl_->chartFolder_; }

std::string RecorderWindow::TableText(int row, int column) const {
  impl_->FillTable();
  const QTableWidgetItem* item = impl_->table_->item(row, column);
  return item == nullptr ? std::string() : item->text().toStdString();
}

std::string RecorderWindow::LastMessage() const { return impl_->lastMessage_.toStdString(); }

}  // namespace record
