// Slots whose operations are not part of the program yet. They exist so that every action
// and signal is wired from the start; each does nothing until its operation arrives.
#include "verdanix.h"

void Verdanix::fillBlack() {}
void Verdanix::mediumBright() {}
void Verdanix::avgColor() {}
void Verdanix::cutAbove() {}
void Verdanix::getBackgroundColor() {}
void Verdanix::removeBackground() {}
void Verdanix::testBuffer() {}
void Verdanix::setGain() {}
void Verdanix::evSetGain(float, float, float) {}
void Verdanix::getStdDev() {}
void Verdanix::neutralizeBackground() {}
void Verdanix::flattenBg() {}
void Verdanix::evSetBoxSize(int) {}
void Verdanix::evFlattenBg(int, double, int, double) {}
void Verdanix::normalize() {}
void Verdanix::showCombineWnd() {}
void Verdanix::applyCombine(wndCombineImg *) {}
void Verdanix::parseInput(QString) {}
void Verdanix::findStars() {}
void Verdanix::getSSLights(wndStarSearch *) {}
void Verdanix::createMasterFrame() {}
void Verdanix::evMasterFrame(wndMasterFrame *) {}
void Verdanix::cropImg() {}
void Verdanix::evStackResult(wndRegistrationData *) {}
void Verdanix::evRegisterFrames(wndRegistrationData *) {}
void Verdanix::evShowRegistration() {}
void Verdanix::evCollectFinished(QObject *) {}
void Verdanix::evAutoBg(int, int, double) {}
void Verdanix::evCalibrate() {}
void Verdanix::evDoCalibrate(QObject *) {}
void Verdanix::evDoneCalibrate(QObject *) {}
void Verdanix::evErrorCalibrate(QObject *) {}
void Verdanix::evClearAuto() {}
void Verdanix::evCloseFlattenBgWnd() {}
