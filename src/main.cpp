#include "app/ToolApp.h"
#include "settings/LanguageText.h"

int main(int argc, char** argv)
{
    // The language is chosen before any window exists: the second-instance
    // warning is already localised.
    static const LanguageText text;
    LanguageText::SetInstance(&text);
    ToolApp app(argc, argv);
    return app.InitInstance();
}
