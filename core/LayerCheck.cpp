// Compiled into each of the core's libraries with that library's own include paths: if one of
// these headers can be found, a toolkit's include path has reached the core through some
// dependency, and the build stops here before core code can start to depend on it.

#if __has_include(<gtk/gtk.h>)
#error "GTK headers are reachable from the core; the core must stay toolkit-free"
#endif
#if __has_include(<gdk/gdk.h>)
#error "GDK headers are reachable from the core; the core must stay toolkit-free"
#endif
#if __has_include(<adwaita.h>)
#error "libadwaita headers are reachable from the core; the core must stay toolkit-free"
#endif
#if __has_include(<webkit/webkit.h>)
#error "WebKit headers are reachable from the core; the core must stay toolkit-free"
#endif
#if __has_include(<jsc/jsc.h>)
#error "JavaScriptCore headers are reachable from the core; the core must stay toolkit-free"
#endif
