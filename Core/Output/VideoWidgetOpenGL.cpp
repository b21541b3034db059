#include "Core/Output/VideoWidgetOpenGL.h"

#include "Core/Output/SharedLibrary.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Core/Output/VideoSurfaceOpenGL.h"

#include <QAbstractVideoSurface>
#include <QMutexLocker>

#include <cmath>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Output/VideoWidgetOpenGL";

typedef void (*ActiveTextureFunction)(GLenum texture);

// libGL, opened when the library loads; the one entry point beyond OpenGL 1.1
// is looked up when the first widget opens.
SharedLibrary g_library("libGL.so.1");
ActiveTextureFunction g_activeTexture = nullptr;

QGLFormat widgetFormat()
{
    QGLFormat format(QGLFormat::defaultFormat());
    // The luminance textures need a context with the fixed-function formats.
    format.setProfile(QGLFormat::CompatibilityProfile);
    format.setSwapInterval(1);
    return format;
}

const QGLFormat g_format = widgetFormat();

// Through the current context first, then straight from the library.
QFunctionPointer getProcAddr(const char* name, const SharedLibrary& library)
{
    QFunctionPointer function = nullptr;
    if (const QGLContext* context = QGLContext::currentContext())
        function = reinterpret_cast<QFunctionPointer>(context->getProcAddress(QLatin1String(name)));
    if (!function)
        function = reinterpret_cast<QFunctionPointer>(library.symbol(name));
    return function;
}

const char kVertexShader[] = "attribute highp vec2 in_position;\n"
                             "attribute highp vec2 in_texcoord;\n"
                             "varying highp vec2 texcoord;\n"
                             "void main(void)\n"
                             "{\n"
                             "    gl_Position = vec4(in_position, 0.0, 1.0);\n"
                             "    texcoord = in_texcoord;\n"
                             "}\n";

const char kFragmentShaderYUV[] = "uniform sampler2D texY;\n"
                                  "uniform sampler2D texU;\n"
                                  "uniform sampler2D texV;\n"
                                  "uniform mediump mat4 colorMatrix;\n"
                                  "varying highp vec2 texcoord;\n"
                                  "void main(void)\n"
                                  "{\n"
                                  "    highp vec4 color = vec4(texture2D(texY, texcoord.st).r,\n"
                                  "                            texture2D(texU, texcoord.st).r,\n"
                                  "                            texture2D(texV, texcoord.st).r,\n"
                                  "                            1.0);\n"
                                  "    gl_FragColor = colorMatrix * color;\n"
                                  "}\n";

} // namespace

void empty(QtMsgType, const QMessageLogContext&, const QString&) {}

Logging::Log VideoWidgetOpenGL::ms_log("VideoWidgetOpenGL", Logging::Log::systemLogger());

VideoWidgetOpenGL::VideoWidgetOpenGL(QWidget* parent)
    : QGLWidget(g_format, parent, nullptr, Qt::WindowFlags()),
      surface(new VideoSurfaceOpenGL(this)),
      current(0),
      textureInternalFormat(GL_LUMINANCE),
      textureFormat(GL_LUMINANCE),
      textureType(GL_UNSIGNED_BYTE),
      textureIds{0, 0, 0},
      textureWidths{0, 0, 0},
      textureHeights{0, 0, 0},
      textureOffsets{0, 0, 0},
      textureCount(0),
      opened(false),
      yuv(false),
      fragmentProgram(nullptr),
      colorsPending(false),
      pendingColors{0, 0, 0, 0}
{
    setMinimumSize(100, 100);
    QPalette black(palette());
    black.setBrush(QPalette::Window, QBrush(Qt::black));
    setPalette(black);
    connect(this, &VideoWidgetOpenGL::updateRequest, this, &VideoWidgetOpenGL::updateRequested);
}

VideoWidgetOpenGL::~VideoWidgetOpenGL()
{
    delete surface;
    surface = nullptr;
    disconnect(this, &VideoWidgetOpenGL::updateRequest, this, &VideoWidgetOpenGL::updateRequested);
}

int VideoWidgetOpenGL::open(QVideoFrame::PixelFormat format, unsigned width, unsigned height)
{
    if (!context() || !context()->isValid()) {
        HARBEND_LOG(Fatal, "Failed to initialize OpenGL context!");
        return QAbstractVideoSurface::ResourceError;
    }
    // The context needs the native window, which a hidden widget may not have yet.
    winId();
    makeCurrent();
    if (QGLContext::currentContext() != context()) {
        HARBEND_LOG(Fatal, "Failed to initialize OpenGL context!");
        return QAbstractVideoSurface::ResourceError;
    }
    if (!g_activeTexture)
        g_activeTexture = reinterpret_cast<ActiveTextureFunction>(getProcAddr("glActiveTexture", g_library));
    if (!g_activeTexture) {
        HARBEND_LOG(Fatal, "Failed to load required OpenGL functionality!");
        doneCurrent();
        return QAbstractVideoSurface::ResourceError;
    }
    if (!QGLShaderProgram::hasOpenGLShaderPrograms(context())) {
        HARBEND_LOG(Fatal, "System does not have the shader program support!");
        doneCurrent();
        return QAbstractVideoSurface::ResourceError;
    }
    if (format != QVideoFrame::Format_YUV420P) {
        HARBEND_LOG(Warning, "Unsupported format!");
        doneCurrent();
        return QAbstractVideoSurface::UnsupportedFormatError;
    }
    setYUV420P(width, height);

    bool built = false;
    if (!program.addShaderFromSourceCode(QGLShader::Vertex, kVertexShader)) {
        HARBEND_LOG(Error, "Failed to compile vertex shader! Compilation log: %s",
                    program.log().toLocal8Bit().constData());
    } else if (!program.addShaderFromSourceCode(QGLShader::Fragment, fragmentProgram)) {
        HARBEND_LOG(Error, "Failed to compile fragment shader! Compilation log: %s",
                    program.log().toLocal8Bit().constData());
    } else {
        const QtMessageHandler previous = qInstallMessageHandler(empty);
        built = program.link();
        qInstallMessageHandler(previous);
        if (!built)
            HARBEND_LOG(Error, "Failed to link shaders! Linking log: %s", program.log().toLocal8Bit().constData());
    }
    if (!built) {
        program.removeAllShaders();
        doneCurrent();
        return QAbstractVideoSurface::ResourceError;
    }

    glGenTextures(textureCount, textureIds);
    // Storage once per format; each picture then only updates it.
    for (int i = 0; i < textureCount; ++i) {
        glBindTexture(GL_TEXTURE_2D, textureIds[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GLint(textureInternalFormat), GLsizei(textureWidths[i]),
                     GLsizei(textureHeights[i]), 0, textureFormat, textureType, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    opened = true;
    {
        QMutexLocker locker(&slotLock);
        current = 0;
    }
    updateColors(0, 0, 0, 0);
    doneCurrent();
    return QAbstractVideoSurface::NoError;
}

void VideoWidgetOpenGL::close()
{
    makeCurrent();
    if (opened)
        glDeleteTextures(textureCount, textureIds);
    program.removeAllShaders();
    {
        QMutexLocker locker(&slotLock);
        frames[0] = QVideoFrame();
        frames[1] = QVideoFrame();
    }
    opened = false;
    doneCurrent();
    update();
}

void VideoWidgetOpenGL::setFrame(const QVideoFrame& frame)
{
    {
        QMutexLocker locker(&slotLock);
        const int next = (current + 1) % 2;
        frames[next] = frame;
        current = next;
    }
    emit updateRequest();
}

void VideoWidgetOpenGL::setColors(int brightness, int contrast, int hue, int saturation)
{
    QMutexLocker locker(&slotLock);
    pendingColors[0] = brightness;
    pendingColors[1] = contrast;
    pendingColors[2] = hue;
    pendingColors[3] = saturation;
    colorsPending = true;
}

void VideoWidgetOpenGL::setYUV420P(unsigned width, unsigned height)
{
    const VideoPlaneLayout layout = VideoPlaneLayout::yuv420p(width, height);
    for (int i = 0; i < 3; ++i) {
        textureWidths[i] = layout.width[i];
        textureHeights[i] = layout.height[i];
        textureOffsets[i] = layout.offset[i];
    }
    textureInternalFormat = GL_LUMINANCE;
    textureFormat = GL_LUMINANCE;
    textureType = GL_UNSIGNED_BYTE;
    textureCount = 3;
    fragmentProgram = kFragmentShaderYUV;
    yuv = true;
    HARBEND_LOG(Info, "Initializing video output with format %ux%u pixels YUV420P.", width, height);
}

void VideoWidgetOpenGL::updateColors(int brightness, int contrast, int hue, int saturation)
{
    const double c = contrast / 100.0 + 1.0;
    const double s = saturation / 100.0 + 1.0;
    const double b = brightness / 200.0;
    const double theta = M_PI * hue / 100.0;
    const double cosine = std::cos(theta);
    const double sine = std::sin(theta);

    const double h11 = 0.787 * cosine - 0.213 * sine + 0.213;
    const double h21 = -0.213 * cosine + 0.143 * sine + 0.213;
    const double h31 = -0.213 * cosine - 0.787 * sine + 0.213;
    const double h12 = -0.715 * cosine - 0.715 * sine + 0.715;
    const double h22 = 0.285 * cosine + 0.140 * sine + 0.715;
    const double h32 = -0.715 * cosine + 0.715 * sine + 0.715;
    const double h13 = -0.072 * cosine + 0.928 * sine + 0.072;
    const double h23 = -0.072 * cosine - 0.283 * sine + 0.072;
    const double h33 = 0.928 * cosine + 0.072 * sine + 0.072;

    const double sr = (1.0 - s) * 0.3086;
    const double sg = (1.0 - s) * 0.6094;
    const double sb = (1.0 - s) * 0.0820;
    const double dr = sr + s;
    const double dg = sg + s;
    const double db = sb + s;
    const float m4 = float((s + sr + sg + sb) * (0.5 - 0.5 * c + b));

    const QMatrix4x4 adjustment(
        float(c * (dr * h11 + sg * h21 + sb * h31)), float(c * (dr * h12 + sg * h22 + sb * h32)),
        float(c * (dr * h13 + sg * h23 + sb * h33)), m4, float(c * (sr * h11 + dg * h21 + sb * h31)),
        float(c * (sr * h12 + dg * h22 + sb * h32)), float(c * (sr * h13 + dg * h23 + sb * h33)), m4,
        float(c * (sr * h11 + sg * h21 + db * h31)), float(c * (sr * h12 + sg * h22 + db * h32)),
        float(c * (sr * h13 + sg * h23 + db * h33)), m4, 0.0f, 0.0f, 0.0f, 1.0f);

    if (yuv) {
        // BT.709, limited range; columns Y, U, V, 1.
        const QMatrix4x4 bt709(1.164383561643836f, 0.0f, 1.792741071428571f, -0.972945075016308f, 1.164383561643836f,
                               -0.21324861427373f, -0.532909328559444f, 0.301482665475862f, 1.164383561643836f,
                               2.112401785714286f, 0.0f, -1.133402217873451f, 0.0f, 0.0f, 0.0f, 1.0f);
        colorMatrix = adjustment * bt709;
    } else {
        colorMatrix = adjustment;
    }
}

void VideoWidgetOpenGL::initializeGL() { glClearColor(0.0f, 0.0f, 0.0f, 0.0f); }

void VideoWidgetOpenGL::resizeGL(int w, int h) { glViewport(0, 0, w, h); }

void VideoWidgetOpenGL::paintGL()
{
    glClear(GL_COLOR_BUFFER_BIT);
    if (!opened)
        return;

    QVideoFrame frame;
    {
        QMutexLocker locker(&slotLock);
        frame = frames[current];
        if (colorsPending) {
            colorsPending = false;
            updateColors(pendingColors[0], pendingColors[1], pendingColors[2], pendingColors[3]);
        }
    }
    if (!frame.isValid() || !frame.map(QAbstractVideoBuffer::ReadOnly))
        return;
    const std::uint64_t needed = textureOffsets[textureCount - 1] +
                                 std::uint64_t(textureWidths[textureCount - 1]) * textureHeights[textureCount - 1];
    if (frame.mappedBytes() <= 0 || std::uint64_t(frame.mappedBytes()) < needed) {
        frame.unmap();
        return;
    }

    // Chroma rows of odd length are packed without padding.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < textureCount; ++i) {
        glBindTexture(GL_TEXTURE_2D, textureIds[i]);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(textureWidths[i]), GLsizei(textureHeights[i]), textureFormat,
                        textureType, frame.bits() + textureOffsets[i]);
    }
    frame.unmap();

    const QPaintDevice* device = context()->device();
    const float ratio = (float(frame.width()) / float(frame.height())) /
                        (float(device->width()) / float(device->height()));
    float left = -1.0f, right = 1.0f, bottom = -1.0f, top = 1.0f;
    if (ratio <= 1.0f) {
        left = -ratio;
        right = ratio;
    } else {
        bottom = -1.0f / ratio;
        top = 1.0f / ratio;
    }
    const GLfloat positions[8] = {left, bottom, right, bottom, left, top, right, top};
    // The first row of each plane is the top of the picture.
    const GLfloat texcoords[8] = {0.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f};

    program.bind();
    program.enableAttributeArray("in_position");
    program.enableAttributeArray("in_texcoord");
    program.setAttributeArray("in_position", positions, 2);
    program.setAttributeArray("in_texcoord", texcoords, 2);
    if (textureCount == 3) {
        g_activeTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, textureIds[1]);
        g_activeTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, textureIds[2]);
        g_activeTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textureIds[0]);
        program.setUniformValue("texY", 0);
        program.setUniformValue("texU", 1);
        program.setUniformValue("texV", 2);
    } else {
        g_activeTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, textureIds[0]);
        program.setUniformValue("texRGB", 0);
    }
    program.setUniformValue("colorMatrix", colorMatrix);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    program.disableAttributeArray("in_position");
    program.disableAttributeArray("in_texcoord");
    program.release();
}

void VideoWidgetOpenGL::updateRequested() { update(); }

} // namespace Harbend
