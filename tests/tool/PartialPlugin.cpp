// A stand-in plug-in that exports only a few of the 22 entry points.
#include "QRVAcqGenIcam.h"

int Close(QRVCameraHandle) {
    return QRV_ERR_CAMERA_NOT_OPEN;
}
bool IsOpen(QRVCameraHandle) {
    return false;
}
int GetCameraList(QRVCameraInfoArray*) {
    return 0;
}
int StopAcquire(QRVCameraHandle) {
    return QRV_ERR_CAMERA_NOT_OPEN;
}
