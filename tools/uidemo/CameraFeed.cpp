#include "CameraFeed.h"

#include "video/DDraw.h"

#include <QDateTime>
#include <QPainter>

#include <chrono>

namespace {

constexpr auto kFrameInterval = std::chrono::milliseconds(40);

// The largest rectangle of the picture's shape centred in `pane` (pane coordinates from 0).
RECT fitted(const RECT& pane, int pictureWidth, int pictureHeight) {
    const long width = pane.width();
    const long height = pane.height();
    if (width * pictureHeight > height * pictureWidth) {
        const long fittedWidth = height * pictureWidth / pictureHeight;
        return {(width - fittedWidth) / 2, 0, (width - fittedWidth) / 2 + fittedWidth, height};
    }
    const long fittedHeight = width * pictureHeight / pictureWidth;
    return {0, (height - fittedHeight) / 2, width, (height - fittedHeight) / 2 + fittedHeight};
}

} // namespace

CameraFeed::CameraFeed(CDDrawView& view, int pane, std::string name, bool recording)
    : view_(view), pane_(pane), name_(std::move(name)), recording_(recording),
      pattern_(pane, 640, 360), overlay_(view.CreatOverlaySurface(640, 360)),
      thread_([this] { run(); }) {}

CameraFeed::~CameraFeed() {
    running_ = false;
    thread_.join();
    if (paneSurface_ != nullptr) {
        paneSurface_->Release();
    }
    overlay_->Release();
}

void CameraFeed::run() {
    auto next = std::chrono::steady_clock::now();
    for (int frame = 0; running_; ++frame) {
        drawFrame(frame);
        next += kFrameInterval;
        std::this_thread::sleep_until(next);
    }
}

void CameraFeed::drawFrame(int frame) {
    pattern_.render(frame);
    RECT paneRect;
    if (view_.PlayYUV(pattern_.y(), pattern_.u(), pattern_.v(), pane_, overlay_, 0, 0,
                      pattern_.width(), pattern_.height(), &paneRect) == nullptr) {
        return; // not on the page shown now
    }
    if (paneSurface_ == nullptr || paneSurface_->width() != paneRect.width() ||
        paneSurface_->height() != paneRect.height()) {
        if (paneSurface_ != nullptr) {
            paneSurface_->Release();
        }
        paneSurface_ = view_.CreatEmptySurface(static_cast<int>(paneRect.width()),
                                               static_cast<int>(paneRect.height()));
        if (paneSurface_ == nullptr) {
            return;
        }
    }
    view_.Clrscr(paneSurface_, 0);
    const RECT target = fitted(paneRect, pattern_.width(), pattern_.height());
    paneSurface_->Blt(&target, overlay_, nullptr, 0);
    paintStatus(paneSurface_);
    view_.DDsfDrawToDDBack(&paneRect, paneSurface_, nullptr);
}

// Name and time as an on-screen display, and the red mark of a recording camera.
void CameraFeed::paintStatus(VideoSurface* surface) {
    QPainter* painter = surface->GetDC();
    if (painter == nullptr) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(10, surface->height() / 18));
    painter->setFont(font);
    const QRect area(8, 4, surface->width() - 16, surface->height() - 8);
    painter->setPen(QColor(0, 0, 0, 160));
    painter->drawText(area.translated(1, 1), Qt::AlignLeft | Qt::AlignTop,
                      QString::fromStdString(name_));
    painter->setPen(QColor(235, 240, 245));
    painter->drawText(area, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(name_));
    painter->drawText(area, Qt::AlignRight | Qt::AlignTop,
                      QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss"));
    if (recording_) {
        const int size = std::max(8, surface->height() / 22);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(235, 64, 52));
        painter->drawEllipse(
            QRect(surface->width() - size - 10, surface->height() - size - 10, size, size));
    }
    surface->ReleaseDC(painter);
}
