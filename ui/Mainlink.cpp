#include "ui/Mainlink.h"

MainLink* MainWindow = nullptr;
