/* The machine-dependent part of jni.h for Windows builds made elsewhere: the
 * build machine's JDK only carries the one of its own system. The types and
 * the calling convention are those the Windows JVM uses; JNICALL must be
 * __stdcall, or a 32-bit JVM calling in leaves the stack unbalanced. */
#ifndef ZELP_WIN32_JNI_MD_H
#define ZELP_WIN32_JNI_MD_H

#ifndef _WIN32
#error "this jni_md.h is for Windows builds only"
#endif

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef int jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
