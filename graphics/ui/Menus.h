// The menu screens and which of them are visible: one record per screen type, drawn inside the GUI
// frame after telling the engine which menu state the game is in. Visible screens are drawn in the
// order they were shown, so the screen opened last is in front (options over the pause screen that
// opened it); screens shown at the same moment go in type order.
#pragma once

#include <Messages.h>

#include <functional>
#include <vector>

class ResourceHub;

class Menus {
public:
    struct Record {
        eMENUTYPE type;
        bool visible;
        // Shared, not owned.
        ResourceHub* resources = nullptr;
        // When it was last made visible (a running count); orders the drawing.
        unsigned long long shownAt = 0;
    };

    // The eleven records, types 0 to 10, all hidden.
    explicit Menus(ResourceHub* hub);
    // Shows every record of the type.
    void Show(eMENUTYPE type);
    // Hides every record of the type; MENU_ALL hides all of them.
    void Hide(eMENUTYPE type);
    // Sets the menu state and draws the screen of each visible record.
    void Draw();

    // Tests only: called with each record's type right before its screen is drawn.
    static void SetDrawObserver(std::function<void(eMENUTYPE)> observer);

    std::vector<Record> mRecords;

private:
    unsigned long long mShowCount = 0;
};
