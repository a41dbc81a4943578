#pragma once
// The main window: document area with the image windows and the console, the
// view-correction dock, menus, toolbar and status bar, and the slots behind every action.
// It tracks the current image window, locks it for the duration of an operation, and runs
// the busy/abort protocol that every long calculation follows. GUI thread only.
#include "app/imagelock.h"
#include "image/floatrgb.h"

#include <QMainWindow>
#include <QPointer>

#include <atomic>
#include <memory>

class ImageBuffer;
class QAction;
class QDockWidget;
class QLabel;
class QMdiArea;
class QMenu;
class QProgressBar;
class QMdiSubWindow;
class QPushButton;
class QToolBar;
class OutputWindow;
class mdiImage;
class wndViewCorrection;
class wndCombineImg;
class wndStarSearch;
class wndMasterFrame;
class wndRegistrationData;
class qDwa;
class wndImageStats;

class Verdanix : public QMainWindow {
    Q_OBJECT
public:
    explicit Verdanix(QWidget *parent = nullptr);
    ~Verdanix() override;

    // Makes an image window a subwindow of the document area, wires it to the main window
    // and, unless it is a preview, makes it the current image (viewTarget).
    void addImageWindow(mdiImage *window);

    // The image window an operation should work on: the locked one while an operation
    // runs, else the active one; a preview redirects to viewTarget. Locked until the returned
    // lock goes out of scope; holds no window when there is none.
    ImageLock lockImage();
    // Locks `window` itself.
    ImageLock lockWindow(mdiImage *window);
    // The current image window without taking the lock.
    mdiImage *currentImageWindow() const;

    // Busy/abort protocol. startRun refuses (logging `refusal`) while another calculation
    // runs; otherwise marks the window busy, shows Abort and, when the run has an abort flag
    // of its own, points workerAbortFlag at it. finishRun ends it and shows `statusText`.
    bool startRun(const QString &refusal, std::atomic<bool> *runAbortFlag = nullptr);
    void finishRun(const QString &statusText = QStringLiteral("Ready."));

    // A copy of (the selection of) the current image in a new preview window, which no
    // operation ever works on. Null without a current image.
    mdiImage *makePreviewWindow();

    // Opens `buffer` in a new image window that becomes newestWindow: zoom 1, preview built,
    // named `name` with `titleCounter` derivations, added to the document area.
    mdiImage *openResultWindow(std::unique_ptr<ImageBuffer> buffer, const QString &name, int titleCounter = 0);
    // The image window whose windowId, as a string, is `id`; null when it was closed.
    mdiImage *findImageById(const QString &id) const;

    // The image windows of the document area in the order they were opened.
    QList<mdiImage *> imageWindows() const;
    // The window's title as window lists show it: with " [n]" when an earlier window has the
    // same title.
    QString windowLabel(const mdiImage *window) const;
    // Refills the Window menu with the open windows; run whenever the menu opens.
    void updateWindowMenu();
    // Where the main window must stay; the screen's available area unless set (tests set it).
    QRect workAreaOverride;

    OutputWindow *console() const { return outputWindow; }
    QMdiArea *documentArea() const { return mdiArea; }
    wndViewCorrection *viewCorrectionPanel() const { return vcWindow; }

    QPointer<mdiImage> newestWindow;
    QPointer<mdiImage> flattenWindow;
    QPointer<mdiImage> viewTarget;
    QPointer<mdiImage> lockedWindow;
    bool lockActive = false;
    std::atomic<bool> abortRequested{false};
    std::atomic<bool> *workerAbortFlag = nullptr;
    bool abortable = false;
    bool calculationRunning = false;

public slots:
    void loadImage();
    void saveImage();
    void fillBlack();
    void updateMenus();
    void mediumBright();
    void avgColor();
    void cutAbove();
    void getBackgroundColor();
    void removeBackground();
    void testBuffer();
    void setGain();
    void evSetGain(float valueR, float valueG, float valueB);
    void getStdDev();
    void neutralizeBackground();
    void testPreview();
    void flattenBg();
    void evSetBoxSize(int value);
    void evReturnedColor(FloatRGB value);
    void evFlattenBg(int pow, double dist, int mult, double offset);
    void evGotFocus(QWidget *widget);
    void updateVC();
    void normalize();
    void showCombineWnd();
    void applyCombine(wndCombineImg *wci);
    void evClosedImg(QObject *o);
    void parseInput(QString input);
    void findStars();
    void getSSLights(wndStarSearch *sender);
    void createMasterFrame();
    void evMasterFrame(wndMasterFrame *sender);
    void evAbort();
    void cropImg();
    void evStackResult(wndRegistrationData *sender);
    void evRegisterFrames(wndRegistrationData *sender);
    void evShowRegistration();
    void evCollectFinished(QObject *sender);
    void evShowPreferences();
    void evAutoBg(int size, int count, double sigma);
    void evCalibrate();
    void evDoCalibrate(QObject *sender);
    void evDoneCalibrate(QObject *sender);
    void evErrorCalibrate(QObject *sender);
    void evClearAuto();
    void evCloseFlattenBgWnd();
    void showWelcome();
    void evAbout();
    // The read-out's position, cleared when the pointer leaves the image.
    void evPointerMoved(int x, int y, bool insideImage);
    void evPointerLeft();
    void evZoomChanged(double zoom);
    // The non-modal statistics window of the current image (one at a time).
    void showImageStatistics();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Asks about unsaved results, then remembers the geometry and the dock layout.
    void closeEvent(QCloseEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createStatusBar();
    void createWindowMenu();
    // Puts a tool panel's dock on the right, tabbed with the docks already there, so that
    // no number of docks pushes the status bar or a panel's buttons off the screen.
    void dockPanel(QDockWidget *dock);
    // Moves and, where needed, shrinks the window into the work area (after docks change).
    void keepInWorkArea();
    void restoreWindowLayout();
    void saveWindowLayout();
    // The panel's automatic stretch at its clipping value, into the window's view
    // correction (not yet rendered); false when memory ran out.
    bool applyAutoStretch(mdiImage *window);
    // With "Stretch new windows automatically" on, stretches and redraws a new window.
    void stretchNewWindow(mdiImage *window);
    void updateZoomLabel();
    // Refreshes the statistics window, if open, for the current image and its selection.
    void updateImageStatistics();
    void clearReadout();
    // False when the user cancels quitting over unsaved results.
    bool confirmUnsavedResults();
    // Asks for a file name and saves the window's image; true when a file was written.
    bool saveWindow(mdiImage *window, const QString &caption);
    // Hands the flatten tool's markers to `window` (ending them on the window before).
    void startMarkerMode(mdiImage *window);
    void logStartupFigures();
    QAction *makeAction(const QString &text, const char *icon, const char *slot);
    void showResult(const QString &title, const QString &text);
    ImageLock lockFlattenTarget();
    // Ends the lock; only an ImageLock leaving its scope calls it.
    friend class ImageLock;
    void releaseImage();
    // Console commands (parseInput).
    void consoleStarSearch(const QStringList &names, const QStringList &values);
    void consoleCheckValues();
    void consoleThreadTest();
    void reportNoImage();
    // A request that cannot run now: its line in the log and in the status bar.
    void refuse(const QString &line);
    // lockImage for operations that need pixels: without them, says so and locks nothing.
    ImageLock lockImageWithPixels();

    QMdiArea *mdiArea = nullptr;
    OutputWindow *outputWindow = nullptr;
    wndViewCorrection *vcWindow = nullptr;
    QDockWidget *vcDock = nullptr;
    QPointer<qDwa> flattenDock;
    QPointer<wndImageStats> statisticsWindow;
    QMdiSubWindow *consoleWindow = nullptr;
    QToolBar *mainToolBar = nullptr;

    QPushButton *abortButton = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *positionLabel = nullptr;
    QLabel *zoomLabel = nullptr;
    QLabel *redLabel = nullptr;
    QLabel *greenLabel = nullptr;
    QLabel *blueLabel = nullptr;

    QMenu *fileMenu = nullptr;
    QMenu *manipulateMenu = nullptr;
    QMenu *combineMenu = nullptr;
    QMenu *transformMenu = nullptr;
    QMenu *helpMenu = nullptr;

public:
    QMenu *imageMenu = nullptr;
    QMenu *windowMenu = nullptr;

public:
    // Actions, named after what they do; owned by the window.
    QAction *openAct = nullptr;
    QAction *saveAsAct = nullptr;
    QAction *preferencesAct = nullptr;
    QAction *exitAct = nullptr;
    QAction *calibrateAct = nullptr;
    QAction *colorGainAct = nullptr;
    QAction *neutralizeAct = nullptr;
    QAction *flattenAct = nullptr;
    QAction *normalizeAct = nullptr;
    QAction *masterFrameAct = nullptr;
    QAction *registrationAct = nullptr;
    QAction *combineAct = nullptr;
    QAction *cropAct = nullptr;
    QAction *aboutAct = nullptr;
    QAction *fillBlackAct = nullptr;
    QAction *averageBrightnessAct = nullptr;
    QAction *averageColorAct = nullptr;
    QAction *cutAboveAct = nullptr;
    QAction *backgroundColorAct = nullptr;
    QAction *removeBackgroundAct = nullptr;
    QAction *testBufferAct = nullptr;
    QAction *standardDeviationAct = nullptr;
    QAction *testPreviewAct = nullptr;
    QAction *starSearchAct = nullptr;
    QAction *zoomInAct = nullptr;
    QAction *zoomOutAct = nullptr;
    QAction *zoomActualAct = nullptr;
    QAction *zoomFitAct = nullptr;
    QAction *cascadeAct = nullptr;
    QAction *tileAct = nullptr;
    QAction *closeWindowAct = nullptr;
    QAction *statisticsAct = nullptr;
};
