#include "video/DDraw.h"
#include "SurfaceInternals.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QWidget>

// The widget the views draw into: a child that always fills its window and hands painting and
// resizes to its owner.
class VideoCanvas final : public QWidget {
public:
    VideoCanvas(CDDraw* owner, QWidget* window) : QWidget(window), owner_(owner) {
        // Every pixel is painted each time, so Qt need not clear first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(window->rect());
        window->installEventFilter(this);
    }

    ~VideoCanvas() override {
        if (owner_ != nullptr) {
            owner_->canvas_ = nullptr;
        }
    }

    void detach() { owner_ = nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Resize) {
            setGeometry(parentWidget()->rect());
        }
        return false;
    }

    void paintEvent(QPaintEvent* event) override {
        if (owner_ != nullptr) {
            QPainter painter(this);
            owner_->paintCanvas(painter, event->region());
        }
    }

    void resizeEvent(QResizeEvent* /*event*/) override {
        if (owner_ != nullptr) {
            owner_->canvasResized();
        }
    }

private:
    CDDraw* owner_;
};

CDDraw::CDDraw() = default;

CDDraw::~CDDraw() {
    releaseCanvas();
}

void CDDraw::releaseCanvas() {
    if (canvas_ != nullptr) {
        canvas_->detach();
        delete canvas_;
        canvas_ = nullptr;
    }
}

bool CDDraw::InitDDraw7(QWidget* window, int width, int height) {
    if (window == nullptr || !videodetail::sizeInRange(width, height)) {
        return false;
    }
    if (!uiContext_) {
        // Created here, on the thread that owns the window, so posted work runs there.
        uiContext_ = std::make_unique<QObject>();
    }
    hintWidth_ = width;
    hintHeight_ = height;
    releaseCanvas();
    canvas_ = new VideoCanvas(this, window);
    canvas_->show();
    // Hidden widgets get their resize event only when shown; the layout is wanted now.
    canvasResized();
    return true;
}

bool CDDraw::CreateClipper(QWidget* /*window*/) {
    // The drawing widget clips to itself; there is nothing to set up.
    return true;
}

QWidget* CDDraw::widget() const {
    return canvas_;
}

bool CDDraw::onUiThread() const {
    return uiContext_ && QThread::currentThread() == uiContext_->thread();
}

VideoSurface* CDDraw::CreatOverlaySurface(int width, int height) {
    if (!videodetail::sizeInRange(width, height)) {
        return nullptr;
    }
    auto* surface = new VideoSurface(VideoSurface::Kind::Overlay, width, height);
    if (!surface->allocatePlanes(width, height)) {
        surface->Release();
        return nullptr;
    }
    surface->fill(0xff000000u);
    return surface;
}

VideoSurface* CDDraw::CreatEmptySurface(int width, int height) {
    if (!videodetail::sizeInRange(width, height)) {
        return nullptr;
    }
    auto* surface = new VideoSurface(VideoSurface::Kind::Rgb, width, height);
    surface->image_ = QImage(width, height, QImage::Format_RGB32);
    if (surface->image_.isNull()) {
        surface->Release();
        return nullptr;
    }
    surface->fill(0xff000000u);
    return surface;
}

void CDDraw::Clrscr(VideoSurface* surface, COLORREF colour) {
    if (surface == nullptr) {
        return;
    }
    std::lock_guard lock(surface->lock_);
    if (surface->painter_ == nullptr) {
        surface->fill(videodetail::rgbOf(colour));
    }
}

void CDDraw::paintCanvas(QPainter& painter, const QRegion& region) {
    for (const QRect& rect : region) {
        painter.fillRect(rect, QColor::fromRgb(videodetail::kBackground));
    }
}
