// Slots whose operations are not part of the program yet. They exist so that every action
// and signal is wired from the start; each does nothing until its operation arrives.
#include "verdanix.h"

void Verdanix::parseInput(QString) {}
void Verdanix::findStars() {}
void Verdanix::getSSLights(wndStarSearch *) {}
void Verdanix::createMasterFrame() {}
void Verdanix::evMasterFrame(wndMasterFrame *) {}
void Verdanix::evStackResult(wndRegistrationData *) {}
void Verdanix::evRegisterFrames(wndRegistrationData *) {}
void Verdanix::evShowRegistration() {}
void Verdanix::evCollectFinished(QObject *) {}
