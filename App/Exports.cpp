#include "App/Application.h"
#include "App/HarbendPlayer.h"

extern "C" {

Harbend::Application* CreateHarbendPlayerInstance() { return new Harbend::HarbendPlayer; }

void DestroyHarbendPlayerInstance(Harbend::Application* application) { delete application; }
}
