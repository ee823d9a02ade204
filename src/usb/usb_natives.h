// The native methods of dravn.usb.UsbDevice, as the JVM looks them up. The
// second parameter is the class (or object) the method was called on; no
// method uses it.
#pragma once

#include <jni.h>

#ifdef __cplusplus
extern "C" {
#endif

JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_openUsbPort(JNIEnv*, jclass, jstring, jint,
                                                                jstring, jstring);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_closeUsbPort(JNIEnv*, jclass, jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_writeData(JNIEnv*, jclass, jbyteArray, jint,
                                                              jint, jint, jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_setWriteComplete(JNIEnv*, jclass, jboolean,
                                                                     jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_isWriteComplete(JNIEnv*, jclass, jint);
JNIEXPORT jint JNICALL Java_dravn_usb_UsbDevice_readData(JNIEnv*, jclass, jbyteArray, jint, jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_setReadComplete(JNIEnv*, jclass, jboolean,
                                                                    jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_isReadComplete(JNIEnv*, jclass, jint);
JNIEXPORT jboolean JNICALL Java_dravn_usb_UsbDevice_detectUsbDevice(JNIEnv*, jclass, jint);
JNIEXPORT jint JNICALL Java_dravn_usb_UsbDevice_usbDeviceList(JNIEnv*, jclass, jintArray, jintArray,
                                                              jint, jstring, jstring);

#ifdef __cplusplus
}
#endif
