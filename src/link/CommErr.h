#pragma once

// Thrown when an exchange with the reader failed. It carries nothing: handlers
// catch it by type alone.
class CommErr {};
