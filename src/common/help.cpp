#include "help.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <climits>

#include "common/folders.h"

namespace qn {
namespace {

QString g_helpFile;

class THelpWindow : public QWidget {
 public:
  THelpWindow() {
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("Quillon Help"));
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    browser_ = new QTextBrowser(this);
    browser_->setOpenExternalLinks(true);
    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    auto* contents = new QPushButton(QStringLiteral("C&ontents"), this);
    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    back->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, [this] { browser_->setSource(QUrl::fromLocalFile(contentsPage_)); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(contents);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(browser_);
    layout->addLayout(buttons);
    resize(620, 480);
  }

  void Show(const QString& page, const QString& contentsPage) {
    contentsPage_ = contentsPage;
    browser_->clearHistory();
    browser_->setSource(QUrl::fromLocalFile(page));
    show();
    raise();
    activateWindow();
    browser_->setFocus();  // the arrow and page keys scroll at once
  }

  // Moves the window under another owner (a modal dialog, or none), keeping its
  // place and whether it shows: a window owned by the topmost modal dialog is
  // not blocked by it.
  void MoveTo(QWidget* owner) {
    if (parentWidget() == owner) return;
    const QRect place = geometry();
    const bool shown = isVisible();
    setParent(owner, Qt::Window);
    setGeometry(place);
    if (shown) {
      show();
      raise();
    }
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    if (e->key() == Qt::Key_Escape && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      close();
      return;
    }
    QWidget::keyPressEvent(e);
  }

 private:
  QTextBrowser* browser_;
  QString contentsPage_;
};

QPointer<THelpWindow> g_window;

// "…/QN.hlp" -> "qn", "…/FaxPS.HLP" -> "faxps".
QString HelpSetName() {
  const QString file = g_helpFile.isEmpty() ? QStringLiteral("QN.hlp") : g_helpFile;
  return QFileInfo(file).completeBaseName().toLower();
}

bool IsHelp(const QWidget* w) { return g_window && w && (w == g_window || g_window->isAncestorOf(w)); }

// The modal window the help window should belong to: the topmost visible one
// other than `leaving` (a dialog on its way out).
QWidget* ModalOwner(const QWidget* leaving) {
  QWidget* top = QApplication::activeModalWidget();
  if (top && top != leaving && top->isVisible() && !IsHelp(top)) return top;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w != leaving && w->isVisible() && w->isModal() && !IsHelp(w)) return w;
  }
  return nullptr;
}

// A window's topic, kept as a child object so that it goes with the window.
class THelpTopic : public QObject {
 public:
  THelpTopic(QWidget* window, std::function<int()> topic) : QObject(window), topic_(std::move(topic)) {
    setObjectName(QStringLiteral("qnHelpTopic"));
  }
  int Topic() const { return topic_ ? topic_() : 0; }

 private:
  std::function<int()> topic_;
};

// F1 everywhere, and the help window following the modal windows.
class THelpKeeper : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
          break;
        auto* w = qobject_cast<QWidget*>(watched);
        if (!w) break;
        if (!IsHelp(w)) ShowHelpFor(w);
        return true;
      }
      case QEvent::Show:
        if (auto* w = qobject_cast<QWidget*>(watched); g_window && g_window->isVisible() && w && w->isWindow() &&
                                                        w->isModal() && !IsHelp(w))
          g_window->MoveTo(w);
        break;
      case QEvent::Hide:
        if (g_window && watched == g_window->parentWidget()) g_window->MoveTo(ModalOwner(g_window->parentWidget()));
        break;
      default:
        break;
    }
    return false;
  }
};

}  // namespace

QString HelpFolder() { return QString::fromStdString(DataFolder()) + QStringLiteral("help"); }

QString ApplicationHelpFile() { return g_helpFile; }
void SetApplicationHelpFile(const QString& path) { g_helpFile = path; }

QString HelpTopicPage(int topic) {
  const QDir dir(HelpFolder() + QLatin1Char('/') + HelpSetName());
  const QString page = dir.filePath(QString::number(topic) + QStringLiteral(".html"));
  return QFileInfo::exists(page) ? page : dir.filePath(QStringLiteral("missing.html"));
}

void ShowHelpTopic(int topic) {
  InstallHelpKey();
  QWidget* owner = ModalOwner(nullptr);
  if (!g_window) {
    g_window = new THelpWindow;
    if (owner) g_window->setParent(owner, Qt::Window);
  } else {
    g_window->MoveTo(owner);
  }
  const QString contents = HelpTopicPage(HelpSetName() == QLatin1String("qn") ? kHelpContentsTopic : 1);
  g_window->Show(HelpTopicPage(topic), contents);
}

void ShowProblemSolver() {
  const QString remembered = g_helpFile;
  g_helpFile = QString::fromStdString(ProgramFolder()) + QStringLiteral("FaxPS.HLP");
  ShowHelpTopic(1);
  g_helpFile = remembered;
}

QString ProblemSolverErrorPage(int code) {
  if (code == 0 || code == INT_MIN) return {};
  const QString page = HelpFolder() + QStringLiteral("/faxps/error") + QString::number(code < 0 ? -code : code) +
                       QStringLiteral(".html");
  return QFileInfo::exists(page) ? page : QString();
}

void ShowProblemSolverForError(int code) {
  const QString page = ProblemSolverErrorPage(code);
  if (page.isEmpty()) {
    ShowProblemSolver();
    return;
  }
  if (!g_window) g_window = new THelpWindow;
  g_window->Show(page, QFileInfo(page).dir().filePath(QStringLiteral("1.html")));
}

QWidget* HelpWindow() { return g_window.data(); }

void SetHelpTopic(QWidget* window, int topic) {
  SetHelpTopic(window, [topic] { return topic; });
}

void SetHelpTopic(QWidget* window, std::function<int()> topic) {
  delete window->findChild<THelpTopic*>(QStringLiteral("qnHelpTopic"), Qt::FindDirectChildrenOnly);
  new THelpTopic(window, std::move(topic));
  InstallHelpKey();
}

int HelpTopicOf(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    if (auto* t = w->findChild<THelpTopic*>(QStringLiteral("qnHelpTopic"), Qt::FindDirectChildrenOnly))
      if (const int topic = t->Topic()) return topic;
  }
  return 0;
}

void ShowHelpFor(const QWidget* widget) {
  const int topic = HelpTopicOf(widget);
  ShowHelpTopic(topic ? topic : kHelpContentsTopic);
}

void InstallHelpKey() {
  static QPointer<THelpKeeper> keeper;
  if (keeper || !qApp) return;
  keeper = new THelpKeeper;
  keeper->setParent(qApp);
  qApp->installEventFilter(keeper);
}

}  // namespace qn
