// Export macro of the host data library (libQRVData).
#pragma once

#if defined(_WIN32)
#if defined(QRVDATA_BUILD)
#define QRV_DATA_API __declspec(dllexport)
#else
#define QRV_DATA_API __declspec(dllimport)
#endif
#else
#define QRV_DATA_API __attribute__((visibility("default")))
#endif
