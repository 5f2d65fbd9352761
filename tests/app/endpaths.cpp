// Ends the real windows in one of the ways the program can end, driven from code through the
// handlers that a click or a key runs, and lets the event loop end by itself. When the loop
// has ended it prints one line telling what was left; tst_startup checks that line, the exit
// status and that nothing went to standard error.
//
//   endpaths close-title        the title window closed before its Continue
//   endpaths close-settings     the settings window closed after the title's Continue
//   endpaths close-stimulation  the stimulation window closed while a run goes on
//   endpaths close-during-turn  the same, the close handled inside a start-end turn
//   endpaths quit               Quit on the settings window, back from a paused run
//   endpaths settings-and-back  a run paused, the settings window, Continue, and the
//                               stimulation window closed
//   endpaths signal             a run ended by SIGTERM (no line is printed)
#include "app/Title.h"
#include "platform/Seams.h"
#include "platform/forms/Controls.h"
#include "platform/forms/Form.h"
#include "platform/forms/Toolkit.h"
#include "settings/frmSettings.h"
#include "shared/Var.h"
#include "stimulation/frmEMDR2.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

void After(int milliseconds, std::function<void()> step)
{
    QTimer::singleShot(milliseconds, qApp, std::move(step));
}

// Continue on the title, then Continue on the settings window at the top speed.
void StartRun(bool tones)
{
    Title->Command1_Click();
    frmSettings->Slider1.SetValue(9);
    frmSettings->Soundtones.SetValue(tones ? 1 : 0);
    frmSettings->cmdContinue_Click();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const std::string path = argc > 1 ? argv[1] : "";
    // A program that does not end is a fault of its own, with a status of its own.
    After(10000, [] {
        std::fprintf(stderr, "endpaths: the program did not end\n");
        std::_Exit(3);
    });

    StartProgram();
    if (path == "close-title") {
        After(0, [] { platform::SurfaceOf(*Title)->close(); });
    } else if (path == "close-settings") {
        After(0, [] {
            Title->Command1_Click();
            After(50, [] { platform::SurfaceOf(*frmSettings)->close(); });
        });
    } else if (path == "close-stimulation") {
        After(0, [] {
            StartRun(true);
            After(500, [] { platform::SurfaceOf(*frmEMDR2)->close(); });
        });
    } else if (path == "close-during-turn") {
        // The tone tick that serves a start-end turn's request runs inside that turn's round
        // of events, which then handles the close posted here.
        platform::seams::SetTickObserver([](const std::string &name, auto) {
            static bool posted = false;
            if (posted || name != "Timer2" || Var::ToneRequest != 1 || Var::PassCount < 1)
                return;
            posted = true;
            std::printf("closing in a turn\n");
            QCoreApplication::postEvent(platform::SurfaceOf(*frmEMDR2), new QCloseEvent);
        });
        After(0, [] { StartRun(true); });
    } else if (path == "quit") {
        After(0, [] {
            StartRun(false);
            After(300, [] {
                frmEMDR2->Form_KeyPress(27);
                frmEMDR2->Settings_Click();
                std::printf("quitting\n");
                frmSettings->Quit_Click();
                std::printf("Quit returned\n");
            });
        });
    } else if (path == "settings-and-back") {
        After(0, [] {
            StartRun(false);
            After(400, [] {
                frmEMDR2->Form_KeyPress(27);
                frmEMDR2->Settings_Click();
                After(300, [] {
                    frmSettings->cmdContinue_Click();
                    After(300, [] { platform::SurfaceOf(*frmEMDR2)->close(); });
                });
            });
        });
    } else if (path == "signal") {
        After(0, [] {
            StartRun(false);
            After(500, [] { std::raise(SIGTERM); });
        });
    } else {
        std::fprintf(stderr, "endpaths: unknown path \"%s\"\n", path.c_str());
        return 2;
    }

    const int status = QApplication::exec();
    std::printf("ended %d, %s, settings window %s\n", status,
                platform::Forms().empty() ? "no window loaded" : "windows still loaded",
                frmSettings.Peek() ? "created" : "never created");
    std::fflush(stdout);
    platform::seams::SetTickObserver(nullptr);
    platform::DestroyUnloadedForms();
    return status;
}
