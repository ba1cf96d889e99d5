#include <csignal>

#include "engine/render_loop.h"
#include "engine/startup.h"

int main(int argc, char **argv)
{
    signal(SIGSEGV, crash_signal_handler);
    engine_startup(argc, argv);
    render_loop();
}
