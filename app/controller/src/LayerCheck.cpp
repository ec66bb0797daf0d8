// Compiled with the controller's own include paths: if any of these headers can be found, a
// toolkit include path has leaked into the controller through some dependency, and the build
// stops here rather than letting controller code start to depend on it.

#if __has_include(<gtk/gtk.h>)
#error "GTK headers are reachable from QuorvaneController; the controller must stay toolkit-free"
#endif
#if __has_include(<gdk/gdk.h>)
#error "GDK headers are reachable from QuorvaneController; the controller must stay toolkit-free"
#endif
#if __has_include(<webkit/webkit.h>)
#error "WebKit headers are reachable from QuorvaneController; the controller must stay toolkit-free"
#endif
#if __has_include(<adwaita.h>)
#error "libadwaita headers are reachable from QuorvaneController; the controller must stay toolkit-free"
#endif

namespace quorvane::controller_layer_check {
// Gives the translation unit something to define.
extern const int checked = 1;
}  // namespace quorvane::controller_layer_check
