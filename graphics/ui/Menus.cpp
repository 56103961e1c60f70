#include "Menus.h"

Menus::Menus(ResourceHub* hub) : mHub(hub) {}

void Menus::Show(eMENUTYPE type) {
    for (Record& r : mRecords)
        if (r.type == type) r.visible = true;
}

void Menus::Hide(eMENUTYPE type) {
    for (Record& r : mRecords)
        if (type == MENU_ALL || r.type == type) r.visible = false;
}

void Menus::Draw() {}
