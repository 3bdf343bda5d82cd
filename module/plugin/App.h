// The module's application object: starts the camera access library when the
// module is loaded and shuts it down when it is unloaded.
#pragma once

class CQRVAcqGenICamApp {
public:
    CQRVAcqGenICamApp();
    ~CQRVAcqGenICamApp();
    CQRVAcqGenICamApp(const CQRVAcqGenICamApp&) = delete;
    CQRVAcqGenICamApp& operator=(const CQRVAcqGenICamApp&) = delete;
};

extern CQRVAcqGenICamApp theApp;
