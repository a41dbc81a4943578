#pragma once
// The window that shows one image inside the main window's document area. It owns its
// ImageBuffer and frees it when the window closes (the window deletes itself on close).
// GUI thread only.
#include "image/floatrgb.h"
#include "image/imagebuffer.h"

#include <QGraphicsView>
#include <QUuid>

#include <memory>

class MessageLog;

class mdiImage : public QGraphicsView {
    Q_OBJECT
public:
    explicit mdiImage(QWidget *parent = nullptr);
    ~mdiImage() override;

    // The title is the name, followed by " (n)" once the image has been derived n times.
    void setName(const QString &newName);
    QString getName();

    std::unique_ptr<ImageBuffer> buffer;
    double zoom = 1.0;
    int titleCounter = 0;
    QString name;
    QUuid windowId;
    bool isPreview = false;
    MessageLog *log = nullptr;

signals:
    void returnColor(FloatRGB value);
    void gotFocus(QWidget *widget);
};
