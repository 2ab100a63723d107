#ifndef CONTROLSTATES_H
#define CONTROLSTATES_H

class Ui_MainWindow;

// Which of the window's controls each of its four states enables.
class ControlStates
{
public:
    enum State { Searching, Standby, Communicating, Downloading };

    explicit ControlStates(Ui_MainWindow *ui)
        : ui(ui)
    {
    }
    // Music and MTR only in standby and only when `musicMtr` (a recorder
    // that offers both trees).
    void enable(State state, bool musicMtr) const;

private:
    Ui_MainWindow *ui;
};

#endif // CONTROLSTATES_H
