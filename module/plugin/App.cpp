// Load order: the error log first, then the application object; unload runs in
// reverse. Both are defined here, in this order, so the order is fixed.
#include "plugin/App.h"

#include "KZRGeniCam.h"
#include "log/ErrorLog.h"
#include "platform/Platform.h"

CErrorLog g_errorLog(qrv::platform::ErrorLogPath(), false);

CQRVAcqGenICamApp::CQRVAcqGenICamApp() {
    try {
        KZRGENICAM::Init();
    } catch (...) {
        // A library that fails to start finds no cameras; loading must not fail.
    }
}

CQRVAcqGenICamApp::~CQRVAcqGenICamApp() {
    try {
        KZRGENICAM::UnInit();
    } catch (...) {
    }
}

CQRVAcqGenICamApp theApp;
