// The Quorvane program: creates the application and runs it.

#include "quorvane/shell/Application.hpp"

int main(int argc, char** argv)
{
    quorvane::Application application;
    return application.run(argc, argv);
}
