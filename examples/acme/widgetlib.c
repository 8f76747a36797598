/* The library of Acme Widget. */
__declspec(dllexport) const char* WidgetVersion(void)
{
    return "Acme Widget 1.2.0.3";
}
