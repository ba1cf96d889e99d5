// Orderly teardown after the simulation has ended, called by the render loop.
#pragma once

void engine_shutdown();
