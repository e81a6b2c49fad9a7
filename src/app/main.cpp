#include <clocale>

#include "app/error_display.h"
#include "app/form_kolvane.h"
#include "app/kolvane_application.h"

int main(int argc, char** argv) {
    app::KolvaneApplication application(argc, argv);
    std::setlocale(LC_TIME, "");  // the clock follows the user's regional formats
    try {
        TFormKolvane FormKolvane;
        FormKolvane.show();
        return application.exec();
    } catch (...) {
        app::showErrorBox(nullptr, app::messageOf(std::current_exception()));
        return 1;
    }
}
