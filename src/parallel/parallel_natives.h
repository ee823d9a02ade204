// The native methods of com.quenrix.zel.comm.ParallelPort, as the JVM looks
// them up. The second parameter is the class (or object) the method was
// called on; no method uses it.
#pragma once

#include <jni.h>

#ifdef __cplusplus
extern "C" {
#endif

JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_openParallelPort(JNIEnv*, jclass,
                                                                                   jstring);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_closeParallelPort(JNIEnv*,
                                                                                    jclass);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_writeData(JNIEnv*, jclass,
                                                                            jbyteArray, jint, jint);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_setWriteComplete(JNIEnv*, jclass,
                                                                                   jboolean);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_isWriteComplete(JNIEnv*, jclass);
JNIEXPORT jint JNICALL Java_com_quenrix_zel_comm_ParallelPort_readData(JNIEnv*, jclass, jbyteArray,
                                                                       jint);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_setReadComplete(JNIEnv*, jclass,
                                                                                  jboolean);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_isReadComplete(JNIEnv*, jclass);
JNIEXPORT jboolean JNICALL Java_com_quenrix_zel_comm_ParallelPort_detectParallelPort(JNIEnv*,
                                                                                     jclass);

#ifdef __cplusplus
}
#endif
