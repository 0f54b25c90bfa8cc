#pragma once
// The library's one application object, made when the library is loaded (InitInstance runs
// then) and ended when it is unloaded or the process exits (ExitInstance runs then).
class CZorvaneApp;

CZorvaneApp& TheZorvaneApp();
