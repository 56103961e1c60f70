// The list of menu screens and which of them are visible. Until the screens exist the list is empty.
#pragma once

#include <Messages.h>

#include <vector>

class ResourceHub;

class Menus {
public:
    struct Record {
        eMENUTYPE type;
        bool visible;
    };

    explicit Menus(ResourceHub* hub);
    // Shows every record of the type.
    void Show(eMENUTYPE type);
    // Hides every record of the type; MENU_ALL hides all of them.
    void Hide(eMENUTYPE type);
    void Draw();

    std::vector<Record> mRecords;

private:
    ResourceHub* mHub;
};
